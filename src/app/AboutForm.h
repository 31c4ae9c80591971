// The about box, shown modally from the editor's Help menu.
#pragma once

#include <QDialog>

namespace ondrevo {

inline constexpr const char* kProgramVersion = ONDREVO_VERSION;
inline constexpr const char* kMakerWebLink = "https://www.kestravo.com";
inline constexpr const char* kMakerMailLink = "mailto:info@kestravo.com";

class TAboutForm : public QDialog {
  Q_OBJECT
 public:
  explicit TAboutForm(QWidget* parent = nullptr);
};

}  // namespace ondrevo
