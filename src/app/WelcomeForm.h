// The welcome window: the program's main window, shown while no document is being edited.
#pragma once

#include <QToolButton>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

namespace ondrevo {

class TWConfig;
class TWCache;

class TWelcomeForm : public QWidget {
  Q_OBJECT
 public:
  TWelcomeForm(TWConfig& config, TWCache& cache, QWidget* parent = nullptr);

  // What the buttons do in the editor; each also shows the editor.
  std::function<void()> NewDocument;
  std::function<void()> OpenDocument;
  std::function<void()> LibraryDocument;
  std::function<void(const std::string& path)> LoadRecent;  // loads and moves it to the top
  // The editor's recent list, most recent first, and removing an entry from it (stored at once).
  // Default: the list kept in the settings object.
  std::function<std::vector<std::string>()> RecentFiles;
  std::function<void(const std::string& path)> RemoveRecent;
  // Runs when the window is closed; default: ends the program (it is the main window).
  std::function<void()> OnClosed;
  // Seam for the "file not found" question; true for Yes.
  std::function<bool(const QString& text)> AskQuestion;

  void FillRecentButtons();
  void ChooseRecent(int index);  // 0-based, as a click on Recent<index+1>

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  bool centred_ = false;
  TWConfig& config_;
  TWCache& cache_;
  QToolButton* recent_[4] = {};
  void Run(const std::function<void()>& command);
};

}  // namespace ondrevo
