#include "app/Startup.h"

#include <libintl.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTimer>
#include <QTranslator>
#include <iostream>
#include <memory>

#include "app/AboutForm.h"
#include "app/Cache.h"
#include "app/Config.h"
#include "app/CrashHandler.h"
#include "app/PreferencesForm.h"
#include "app/WelcomeForm.h"
#include "document/Translate.h"
#include "editor/GraphForm.h"
#ifdef ONDREVO_HAVE_REMOTE
#include "remote/RemoteForm.h"
#include "sim/Demo.h"
#include "transports/LanInterface.h"
#include "transports/RS232Interface.h"
#endif

namespace ondrevo {

namespace {
bool HasCatalogue(const QString& dir) {
  return QFileInfo::exists(dir + "/de/LC_MESSAGES/" + kTextDomain + ".mo");
}
}  // namespace

QString BindTranslations(const QString& programFolder) {
  QString dir;
  const QString installed = QDir::cleanPath(programFolder + "/../share/locale");
  if (HasCatalogue(installed)) {
    dir = installed;
#ifdef ONDREVO_BUILD_LOCALEDIR
  } else if (HasCatalogue(QStringLiteral(ONDREVO_BUILD_LOCALEDIR))) {
    dir = QStringLiteral(ONDREVO_BUILD_LOCALEDIR);
#endif
  } else {
    dir = QStringLiteral(ONDREVO_LOCALEDIR);
  }
  bindtextdomain(kTextDomain, dir.toLocal8Bit().constData());
  bind_textdomain_codeset(kTextDomain, "UTF-8");
  return dir;
}

QString InstallQtTranslations() {
  static QTranslator* loaded = nullptr;
  if (loaded) {
    QCoreApplication::removeTranslator(loaded);
    delete loaded;
    loaded = nullptr;
  }
  // The header of the catalogue gettext picked names its language ("Language: de").
  const QString header = QString::fromUtf8(dgettext(kTextDomain, ""));
  const QRegularExpression field(QStringLiteral("^Language: *([A-Za-z_@]+)"),
                                 QRegularExpression::MultilineOption);
  const QString language = field.match(header).captured(1);
  if (language.isEmpty()) return {};
  auto translator = std::make_unique<QTranslator>();
  if (!translator->load(QStringLiteral("qtbase_") + language,
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    return {};
  loaded = translator.release();
  QCoreApplication::installTranslator(loaded);
  return language;
}

QString DefaultLibraryPath(const QString& programFolder) {
  const QStringList candidates = {
      QDir::cleanPath(programFolder + "/../share/ondrevo/Lib"),
      QStringLiteral(ONDREVO_DATADIR "/Lib"),
#ifdef ONDREVO_SOURCE_DATADIR
      QStringLiteral(ONDREVO_SOURCE_DATADIR "/Lib"),
#endif
  };
  for (const QString& c : candidates)
    if (QFileInfo(c).isDir()) return c;
  return candidates.front();
}

QString DocumentArgument(const QStringList& args) {
  for (const QString& arg : args) {
    if (arg.startsWith(QLatin1Char('-')) || arg.startsWith(QLatin1Char('\\'))) continue;
    if (QFileInfo(arg).isFile()) return QFileInfo(arg).absoluteFilePath();
  }
  return {};
}

TShell::TShell(const QStringList& args, const QString& programFolder) {
  // The welcome window's settings object and preview cache come first.
  Config = std::make_unique<TWConfig>(DefaultLibraryPath(programFolder).toStdString());
  Cache = std::make_unique<TWCache>(*Config);
  Crash = std::make_unique<TCrashHandler>();
  if (auto* app = dynamic_cast<TOndrevoApplication*>(QCoreApplication::instance()))
    app->SetCrashHandler(Crash.get());
  Welcome = std::make_unique<TWelcomeForm>(*Config, *Cache);

  TGraphFormSettings settings;
  settings.SettingsFolder = QString::fromStdString(Config->GetSettingsFolder());
  TWConfig* config = Config.get();
  settings.LoadRecentFiles = [config] {
    QStringList list;
    for (const auto& p : config->RecentFiles()) list << QString::fromStdString(p);
    return list;
  };
  settings.StoreRecentFiles = [config](const QStringList& list) {
    std::vector<std::string> paths;
    for (const QString& p : list) paths.push_back(p.toStdString());
    config->SetRecentFiles(paths);
  };
  settings.LoadPlacement = [config] {
    return QByteArray::fromBase64(
        QByteArray::fromStdString(config->Settings().ReadString("TGraphForm", "Placement")));
  };
  settings.StorePlacement = [config](const QByteArray& placement) {
    config->Settings().WriteString("TGraphForm", "Placement", placement.toBase64().toStdString());
  };
  settings.LoadViewFlag = [config](const QString& key, bool fallback) {
    const std::string value = config->Settings().ReadString("TGraphForm", key.toStdString());
    return value.empty() ? fallback : value == "1";
  };
  settings.StoreViewFlag = [config](const QString& key, bool on) {
    config->Settings().WriteString("TGraphForm", key.toStdString(), on ? "1" : "0");
  };
  std::vector<std::string> switchArgs;
  for (const QString& a : args) switchArgs.push_back(a.toStdString());
  settings.Switches = ParseEditorSwitches(switchArgs);
  settings.LibraryPath = [config] { return QString::fromStdString(config->LibraryPath()); };
  Editor = std::make_unique<TGraphForm>(std::move(settings));
  About = std::make_unique<TAboutForm>(Editor.get());
  Preferences = std::make_unique<TPreferencesForm>(*Config, *Cache, Editor.get());
#ifdef ONDREVO_HAVE_REMOTE
  if (args.contains(QStringLiteral("--demo"))) {
    try {
      Demo = std::make_unique<sim::TDemoInstruments>();
      for (const auto& note : Demo->Notes()) std::cerr << note << "\n";
    } catch (const std::exception& e) {
      // The program is still of use without them (a recording folder it cannot write, say).
      const QString text = QString::fromUtf8(_("The simulated instruments could not be started:")) +
                           " " + QString::fromUtf8(e.what());
      std::cerr << text.toStdString() << "\n";
      QTimer::singleShot(0, [text] {
        auto* box = new QMessageBox(QMessageBox::Warning, QString::fromUtf8(_("Ondrevo")), text);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->show();
      });
    }
  }
  Remote = std::make_unique<TRemoteForm>(Editor.get());
  if (Demo) {
    sim::TDemoInstruments* demo = Demo.get();
    Remote->AddSimulatedTrigger(SimulatedSupplies(demo->Paths(), [demo] { demo->Trigger(); }));
  }
#endif
  // The device selection dialog follows here once it exists.
  ApplyRS232Defaults();

  TGraphForm* editor = Editor.get();
  TWelcomeForm* welcome = Welcome.get();
  TWCache* cache = Cache.get();
  editor->WritePreviewImage = [editor, cache](const QString& path) {
    cache->StoreImage(path.toStdString(), editor->RenderPreviewImage());
  };
  welcome->NewDocument = [editor] {
    editor->show();
    editor->New();
  };
  welcome->OpenDocument = [editor] {
    editor->show();
    editor->Open();
  };
  welcome->LibraryDocument = [editor] {
    editor->show();
    editor->Library();
  };
  welcome->LoadRecent = [editor](const std::string& path) {
    editor->show();
    editor->OpenRecent(QString::fromStdString(path));
  };
  welcome->RecentFiles = [editor] {
    std::vector<std::string> list;
    for (const QString& p : editor->RecentFiles()) list.push_back(p.toStdString());
    return list;
  };
  welcome->RemoveRecent = [editor](const std::string& path) {
    editor->RemoveRecentFile(QString::fromStdString(path));
  };
  Preferences->ClearRecentFiles = [editor] { editor->ClearRecentFiles(); };

  TAboutForm* about = About.get();
  TPreferencesForm* prefs = Preferences.get();
  QObject::connect(editor, &TGraphForm::aboutRequested, about, [about] { about->exec(); });
  QObject::connect(editor, &TGraphForm::preferencesRequested, prefs, [this, prefs] {
    if (prefs->exec() == QDialog::Accepted) ApplyRS232Defaults();
  });
#ifdef ONDREVO_HAVE_REMOTE
  TRemoteForm* remote = Remote.get();
  QObject::connect(editor, &TGraphForm::remoteControlRequested, remote, [editor, remote] {
    remote->SetDocumentName(editor->DocumentName());
    remote->ShowModal(editor->Doc().Voltage, editor->Doc().Current);
  });
#endif
  QObject::connect(editor, &TGraphForm::closed, welcome, [welcome] { welcome->show(); });
  QObject::connect(editor, &TGraphForm::exitRequested, welcome, [welcome] { welcome->close(); });

  const QString document = DocumentArgument(args);
  if (!document.isEmpty())
    OpenFromCommandLine(document);
  else
    Welcome->show();
}

TShell::~TShell() {
  if (auto* app = dynamic_cast<TOndrevoApplication*>(QCoreApplication::instance()))
    app->SetCrashHandler(nullptr);
}

void TShell::ApplyRS232Defaults() {
#ifdef ONDREVO_HAVE_REMOTE
  const RS232Defaults& d = Config->GetRS232Defaults();
  ondrevo::SetRS232Defaults(
      TRS232Settings{d.BaudRate, d.DataBits, d.Parity, d.StopBits, d.Handshake});
  ondrevo::SetLanHosts({Config->GetLanHosts()});
  ondrevo::SetLanDiscovery(Config->GetLanDiscovery());
#endif
}

void TShell::OpenFromCommandLine(const QString& path) {
  Editor->show();
  // A document that fails to load is not remembered and gets no picture.
  if (!Editor->LoadDocument(path)) return;
  if (Editor->WritePreviewImage) Editor->WritePreviewImage(path);
  Editor->AddRecentFile(path);
}

}  // namespace ondrevo
