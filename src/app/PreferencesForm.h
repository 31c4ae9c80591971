// The preferences dialog: library path, history and cache, serial-port discovery defaults.
#pragma once

#include <QDialog>
#include <functional>

#include "app/Config.h"

class QComboBox;
class QCheckBox;
class QLineEdit;
class QTabWidget;

namespace ondrevo {

class TWCache;

class TPreferencesForm : public QDialog {
  Q_OBJECT
 public:
  TPreferencesForm(TWConfig& config, TWCache& cache, QWidget* parent = nullptr);

  // Seams: Yes/No questions (true for Yes) and the folder dialog (empty when cancelled).
  std::function<bool(const QString& text)> AskQuestion;
  std::function<QString(const QString& start)> BrowseFolder;
  // Empties the editor's recent list; default: the list kept in the settings object.
  std::function<void()> ClearRecentFiles;

  const RS232Defaults& WorkingCopy() const { return working_; }

  // List index shown for a stored value (-1: no selection) and the value of a list index.
  static int BaudIndex(std::int32_t baud);
  static int DataBitsIndex(std::int32_t bits);
  static int ParityIndex(std::int32_t parity);
  static int StopBitsIndex(std::int32_t stopBits);
  static int HandshakeIndex(std::int32_t handshake);
  static std::int32_t ParityValue(int index);
  static std::int32_t StopBitsValue(int index);
  static std::int32_t HandshakeValue(int index);

 public slots:
  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  TWConfig& config_;
  TWCache& cache_;
  RS232Defaults working_;
  QTabWidget* pages_ = nullptr;
  QLineEdit* libPath_ = nullptr;
  QLineEdit* lanHosts_ = nullptr;
  QCheckBox* lanDiscover_ = nullptr;
  QComboBox* baud_ = nullptr;
  QComboBox* dataBits_ = nullptr;
  QComboBox* parity_ = nullptr;
  QComboBox* stopBits_ = nullptr;
  QComboBox* flow_ = nullptr;
  void ShowWorkingCopy();
  void ClearHistory();
};

}  // namespace ondrevo
