// Program start: translation set-up, data folders and the windows in their fixed order.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>

namespace ondrevo::sim {
class TDemoInstruments;
}

namespace ondrevo {

class TWConfig;
class TWCache;
class TWelcomeForm;
class TGraphForm;
class TAboutForm;
class TPreferencesForm;
class TCrashHandler;
class TRemoteForm;

// Binds the "ondrevo" catalogue: next to the program when installed, else the build tree's,
// else the configured locale folder. Returns the folder used.
QString BindTranslations(const QString& programFolder);

// Loads Qt's own catalogue (qtbase: file dialogs, standard buttons) in the language gettext
// chose for ours, so the two never disagree; replaces the one an earlier call loaded. Returns
// that language, empty when the texts stay English or Qt has no catalogue for it.
QString InstallQtTranslations();

// The waveform library shipped with the program (installed, else the source tree's).
QString DefaultLibraryPath(const QString& programFolder);

// The document named on the command line: the first argument that is not a switch ("-..." or
// "\\...") and names an existing file; empty when there is none.
QString DocumentArgument(const QStringList& args);

// All windows of the program, created in start-up order and wired together.
struct TShell {
  std::unique_ptr<TWConfig> Config;
  std::unique_ptr<TWCache> Cache;
  std::unique_ptr<TCrashHandler> Crash;
  // "--demo": simulated instruments for the whole run; they outlive every window using them.
  std::unique_ptr<sim::TDemoInstruments> Demo;
  std::unique_ptr<TWelcomeForm> Welcome;
  std::unique_ptr<TGraphForm> Editor;
  std::unique_ptr<TAboutForm> About;
  std::unique_ptr<TPreferencesForm> Preferences;
  std::unique_ptr<TRemoteForm> Remote;  // null in builds without the remote window

  // `args` without the program name. Shows the editor with the document named first when it
  // exists, else the welcome window.
  explicit TShell(const QStringList& args, const QString& programFolder);
  ~TShell();
  // Loads a document into the editor, writes its preview, adds it to the recent list.
  void OpenFromCommandLine(const QString& path);
  // Hands the serial defaults of the settings to transports created from now on.
  void ApplyRS232Defaults();
};

}  // namespace ondrevo
