// Drawing from the command line: a Qt GUI application without a display.
#pragma once

#include <QGuiApplication>
#include <memory>

namespace ondrevo::cli {

// A QGuiApplication for painting (fonts need one), or nullptr when an application exists. The
// platform the user chose is tried first where one is set, offscreen after it; the environment
// is restored for anything this process starts later. Qt's own notes are kept off the output,
// only its errors reach stderr.
std::unique_ptr<QGuiApplication> PaintingApplication();

}  // namespace ondrevo::cli
