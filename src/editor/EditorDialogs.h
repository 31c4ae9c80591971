// The questions and file dialogs of the editor, behind one seam so that tests can answer them.
#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

namespace ondrevo {

class TEditorDialogs {
 public:
  virtual ~TEditorDialogs() = default;
  // Empty string when the user cancels.
  virtual QString GetOpenFileName(QWidget* parent, const QString& title, const QString& filter);
  // The same, starting in `initialFolder` (the working folder when empty).
  virtual QString GetOpenFileNameIn(QWidget* parent, const QString& title, const QString& filter,
                                    const QString& initialFolder);
  virtual QString GetSaveFileName(QWidget* parent, const QString& title, const QString& filter,
                                  const QString& initialPath);
  // A message box captioned `caption`; returns the button chosen.
  virtual QMessageBox::StandardButton Message(QWidget* parent, QMessageBox::Icon icon,
                                              const QString& caption, const QString& text,
                                              QMessageBox::StandardButtons buttons);
};

}  // namespace ondrevo
