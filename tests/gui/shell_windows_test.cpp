// Welcome window, crash handler and preferences dialog, driven as a user would.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>
#include <filesystem>
#include <fstream>

#include <QScreen>
#include "app/AboutForm.h"
#include "app/Cache.h"
#include "app/Config.h"
#include "app/CrashHandler.h"
#include "app/PreferencesForm.h"

#include "app/WelcomeForm.h"

using namespace ondrevo;
namespace fs = std::filesystem;

class ShellWindowsTest : public QObject {
  Q_OBJECT
  QTemporaryDir dir_;
  std::unique_ptr<TWConfig> config_;
  std::unique_ptr<TWCache> cache_;
  QStringList asked_;

  std::string MakeDoc(const QString& name) {
    const std::string path = (dir_.path() + "/" + name).toStdString();
    std::ofstream(path) << "<ondrevo/>";
    return path;
  }

 private slots:
  void init() {
    qputenv("APPDATA", dir_.path().toUtf8() + "/appdata");
    fs::remove_all(dir_.path().toStdString() + "/appdata");
    config_ = std::make_unique<TWConfig>(dir_.path().toStdString());
    cache_ = std::make_unique<TWCache>(*config_);
    asked_.clear();
  }

  // ---- welcome window

  void welcomeShowsFourMostRecentOfNine() {
    for (int i = 9; i >= 1; --i) config_->AddRecentFile(MakeDoc(QString("doc%1.ovx").arg(i)));
    QImage picture(kCacheImageWidth, kCacheImageHeight, QImage::Format_RGB32);
    picture.fill(Qt::red);
    cache_->StoreImage(config_->RecentFiles()[1], picture);

    TWelcomeForm welcome(*config_, *cache_);
    welcome.OnClosed = [] {};
    welcome.show();
    QCOMPARE(welcome.windowTitle(), QString("Welcome to Ondrevo"));
    QCOMPARE(welcome.size(), QSize(521, 201));
    // Centred on its screen.
    const QPoint centre = welcome.screen()->availableGeometry().center();
    QVERIFY((welcome.frameGeometry().center() - centre).manhattanLength() <= 2);
    for (int i = 1; i <= 4; ++i) {
      auto* b = welcome.findChild<QToolButton*>(QString("Recent%1").arg(i));
      QVERIFY(b && b->isVisible());
      QCOMPARE(b->text(), QString("&%1 doc%1.ovx").arg(i));
      QCOMPARE(b->toolTip(), dir_.path() + QString("/doc%1.ovx").arg(i));
    }
    QVERIFY(welcome.findChild<QToolButton*>("Recent1")->icon().isNull());
    QVERIFY(!welcome.findChild<QToolButton*>("Recent2")->icon().isNull());

    // Fewer entries hide the rest when the window is shown again.
    config_->SetRecentFiles({config_->RecentFiles()[0]});
    welcome.hide();
    welcome.show();
    QVERIFY(welcome.findChild<QToolButton*>("Recent1")->isVisible());
    QVERIFY(!welcome.findChild<QToolButton*>("Recent2")->isVisible());
  }

  void welcomeRecentButtons() {
    const std::string present = MakeDoc("present.ovx");
    const std::string gone = (dir_.path() + "/gone.ovx").toStdString();
    config_->AddRecentFile(present);
    config_->AddRecentFile(gone);
    TWelcomeForm welcome(*config_, *cache_);
    welcome.OnClosed = [] {};
    bool answer = false;
    welcome.AskQuestion = [&](const QString& text) {
      asked_ << text;
      return answer;
    };
    std::string loaded;
    welcome.LoadRecent = [&](const std::string& path) { loaded = path; };
    welcome.show();

    // Missing file, "No": stays in the list.
    QTest::mouseClick(welcome.findChild<QToolButton*>("Recent1"), Qt::LeftButton);
    QCOMPARE(asked_, QStringList{"The file can not be found. Remove it from history?"});
    QCOMPARE(int(config_->RecentFiles().size()), 2);
    QVERIFY(welcome.isVisible());
    // "Yes": removed, written, buttons refilled.
    answer = true;
    QTest::mouseClick(welcome.findChild<QToolButton*>("Recent1"), Qt::LeftButton);
    QCOMPARE(TWConfig(dir_.path().toStdString()).RecentFiles(), std::vector<std::string>{present});
    QCOMPARE(welcome.findChild<QToolButton*>("Recent1")->toolTip().toStdString(), present);
    QVERIFY(!welcome.findChild<QToolButton*>("Recent2")->isVisible());
    // An existing file is opened and the window hides.
    QTest::mouseClick(welcome.findChild<QToolButton*>("Recent1"), Qt::LeftButton);
    QCOMPARE(loaded, present);
    QVERIFY(!welcome.isVisible());
  }

  void welcomeCommandsHideEvenWhenCancelled() {
    TWelcomeForm welcome(*config_, *cache_);
    int runs = 0, closes = 0;
    welcome.NewDocument = welcome.OpenDocument = welcome.LibraryDocument = [&] { ++runs; };
    welcome.OnClosed = [&] { ++closes; };
    for (const char* name : {"NewButton", "OpenButton", "LibraryButton"}) {
      welcome.show();
      QTest::mouseClick(welcome.findChild<QToolButton*>(name), Qt::LeftButton);
      QVERIFY2(!welcome.isVisible(), name);
    }
    QCOMPARE(runs, 3);
    welcome.show();
    QTest::mouseClick(welcome.findChild<QToolButton*>("ExitButton"), Qt::LeftButton);
    QCOMPARE(closes, 1);
  }

  // ---- crash handler

  void crashHandlerTimings() {
    TCrashHandler handler;
    QStringList shown, questions;
    int terminated = 0;
    bool answer = false;
    handler.ShowError = [&](const QString& t) { shown << t; };
    handler.AskTerminate = [&](const QString& t) {
      questions << t;
      return answer;
    };
    handler.Terminate = [&] { ++terminated; };

    handler.HandleException("first");
    QCOMPARE(shown, QStringList{"An unhandled exception occurred. You should save your work and "
                                "try a restart of Ondrevo.\n\nError: \"first\""});
    QVERIFY(handler.CrashFlag() && handler.CrashTimer().isActive());
    QCOMPARE(handler.CrashTimer().interval(), 200);
    // Within 200 ms: the termination question; No keeps asking.
    handler.HandleException("second");
    QCOMPARE(questions.size(), 1);
    QVERIFY(questions[0].startsWith("Ondrevo cannot recover from the error state."));
    QVERIFY(questions[0].endsWith("\n\nError: \"second\""));
    QVERIFY(!handler.CrashTimer().isActive());
    QTest::qWait(300);
    handler.HandleException("third");
    QCOMPARE(questions.size(), 2);
    QCOMPARE(terminated, 0);
    answer = true;
    handler.HandleException("fourth");
    QCOMPARE(terminated, 1);

    // After the timer ran out the first message comes again.
    TCrashHandler fresh;
    fresh.ShowError = handler.ShowError;
    fresh.AskTerminate = handler.AskTerminate;
    fresh.HandleException("a");
    QTRY_VERIFY_WITH_TIMEOUT(!fresh.CrashFlag(), 1000);
    QVERIFY(!fresh.CrashTimer().isActive());
    fresh.HandleException("b");
    QCOMPARE(shown.size(), 3);
    QCOMPARE(questions.size(), 3);
  }

  void exceptionsInEventHandlersReachTheHandler() {
    TCrashHandler handler;
    QStringList shown;
    handler.ShowError = [&](const QString& t) { shown << t; };
    static_cast<TOndrevoApplication*>(qApp)->SetCrashHandler(&handler);
    QPushButton button("boom");
    connect(&button, &QPushButton::clicked, [] { throw std::runtime_error("Data out of range"); });
    button.show();
    QTest::mouseClick(&button, Qt::LeftButton);
    static_cast<TOndrevoApplication*>(qApp)->SetCrashHandler(nullptr);
    QCOMPARE(shown.size(), 1);
    QVERIFY(shown[0].endsWith("Error: \"Data out of range\""));
  }

  // ---- preferences

  void preferencesShowStoredValues() {
    config_->SetRS232Defaults({14400, 7, 1, 2, 999});
    TPreferencesForm prefs(*config_, *cache_);
    prefs.show();
    QCOMPARE(prefs.windowTitle(), QString("Preferences"));
    QCOMPARE(prefs.size(), QSize(360, 319));
    auto* pages = prefs.findChild<QTabWidget*>("PreferencesPageControl");
    QCOMPARE(pages->count(), 3);
    QCOMPARE(pages->tabText(0), QString("&General"));
    QCOMPARE(pages->tabText(1), QString("&RS 232 Defaults"));
    QCOMPARE(pages->tabText(2), QString("&LAN"));
    QCOMPARE(prefs.findChild<QComboBox*>("BaudRateBox")->currentIndex(), -1);
    QCOMPARE(prefs.findChild<QComboBox*>("DataBitsBox")->currentText(), QString("7"));
    QCOMPARE(prefs.findChild<QComboBox*>("ParityBox")->currentText(), QString("Odd"));
    QCOMPARE(prefs.findChild<QComboBox*>("StopBitsBox")->currentText(), QString("2"));
    QCOMPARE(prefs.findChild<QComboBox*>("FlowControlBox")->currentText(),
             QString("No flow control"));
    QCOMPARE(prefs.findChild<QLineEdit*>("LibPathEdit")->text(), dir_.path());

    // OK keeps values the lists cannot show.
    QTest::mouseClick(prefs.findChild<QPushButton*>("OKButton"), Qt::LeftButton);
    QCOMPARE(prefs.result(), int(QDialog::Accepted));
    QVERIFY((TWConfig("/x").GetRS232Defaults() == RS232Defaults{14400, 7, 1, 2, 999}));
  }

  void preferencesListPicksAndCancel() {
    TPreferencesForm prefs(*config_, *cache_);
    prefs.show();
    auto pick = [&](const char* name, const QString& text) {
      auto* box = prefs.findChild<QComboBox*>(name);
      box->setFocus();
      const int index = box->findText(text);
      QVERIFY(index >= 0);
      // As the user's choice from the list.
      box->setCurrentIndex(index);
      emit box->activated(index);
    };
    pick("ParityBox", "Even");
    pick("FlowControlBox", "DTR / DSR");
    pick("StopBitsBox", "2");
    pick("BaudRateBox", "115200");
    QVERIFY((prefs.WorkingCopy() == RS232Defaults{115200, 8, 2, 2, 4136}));
    QTest::mouseClick(prefs.findChild<QPushButton*>("CancelButton"), Qt::LeftButton);
    QVERIFY(TWConfig("/x").GetRS232Defaults() == RS232Defaults{});

    prefs.show();  // the working copy starts again from the stored values
    QVERIFY(prefs.WorkingCopy() == RS232Defaults{});
    pick("FlowControlBox", "RTS / CTS");
    pick("ParityBox", "Odd");
    QTest::mouseClick(prefs.findChild<QPushButton*>("FactoryDefaultsButton"), Qt::LeftButton);
    QVERIFY(prefs.WorkingCopy() == RS232Defaults{});
    QCOMPARE(prefs.findChild<QComboBox*>("FlowControlBox")->currentText(), QString("Xon / Xoff"));
    pick("FlowControlBox", "RTS / CTS");
    QTest::mouseClick(prefs.findChild<QPushButton*>("OKButton"), Qt::LeftButton);
    QCOMPARE(TWConfig("/x").GetRS232Defaults().Handshake, 8212);
  }

  // The LAN hosts typed on their page are kept on OK, dropped on Cancel, and shown again.
  void preferencesLanHosts() {
    TPreferencesForm prefs(*config_, *cache_);
    prefs.show();
    auto* hosts = prefs.findChild<QLineEdit*>("LanHostsEdit");
    auto* discover = prefs.findChild<QCheckBox*>("LanDiscoverCheck");
    QVERIFY(hosts && discover);
    QCOMPARE(hosts->text(), QString());
    QVERIFY(!discover->isChecked());
    QTest::keyClicks(hosts, "psu1.lab, 10.0.0.7:5026");
    QTest::mouseClick(discover, Qt::LeftButton);
    QTest::mouseClick(prefs.findChild<QPushButton*>("OKButton"), Qt::LeftButton);
    QCOMPARE(TWConfig("/x").GetLanHosts(), std::string("psu1.lab, 10.0.0.7:5026"));
    QVERIFY(TWConfig("/x").GetLanDiscovery());

    prefs.show();
    QCOMPARE(hosts->text(), QString("psu1.lab, 10.0.0.7:5026"));
    QVERIFY(discover->isChecked());
    hosts->clear();
    QTest::keyClicks(hosts, "other");
    QTest::mouseClick(prefs.findChild<QPushButton*>("CancelButton"), Qt::LeftButton);
    QCOMPARE(TWConfig("/x").GetLanHosts(), std::string("psu1.lab, 10.0.0.7:5026"));

    // A line end cannot start a key of its own in the settings file.
    config_->SetLanHosts("a\nb=1");
    QCOMPARE(TWConfig("/x").GetLanHosts(), std::string("a,b=1"));
  }

  void preferencesLibraryPathQuestion() {
    TPreferencesForm prefs(*config_, *cache_);
    bool answer = false;
    prefs.AskQuestion = [&](const QString& text) {
      asked_ << text;
      return answer;
    };
    prefs.show();
    auto* edit = prefs.findChild<QLineEdit*>("LibPathEdit");
    edit->clear();
    QTest::keyClicks(edit, "/no/such/folder");
    QTest::mouseClick(prefs.findChild<QPushButton*>("OKButton"), Qt::LeftButton);
    QCOMPARE(asked_, QStringList{"Library path does not exist, save anyway?"});
    QVERIFY(prefs.isVisible());
    QCOMPARE(config_->LibraryPath(), dir_.path().toStdString());
    answer = true;
    QTest::mouseClick(prefs.findChild<QPushButton*>("OKButton"), Qt::LeftButton);
    QVERIFY(!prefs.isVisible());
    QCOMPARE(TWConfig("/x").LibraryPath(), std::string("/no/such/folder"));

    // The browse button fills the field from the folder dialog.
    prefs.BrowseFolder = [&](const QString& start) {
      asked_ << "browse " + start;
      return dir_.path();
    };
    prefs.show();
    QTest::mouseClick(prefs.findChild<QToolButton*>("BrowseButton"), Qt::LeftButton);
    QCOMPARE(asked_.last(), QString("browse /no/such/folder"));
    QCOMPARE(edit->text(), dir_.path());
  }

  void preferencesClearHistory() {
    config_->AddRecentFile("/a.ovx");
    cache_->StoreImage("/a.ovx", QImage(4, 4, QImage::Format_RGB32));
    TPreferencesForm prefs(*config_, *cache_);
    bool answer = false;
    prefs.AskQuestion = [&](const QString& text) {
      asked_ << text;
      return answer;
    };
    prefs.show();
    auto* clear = prefs.findChild<QPushButton*>("ClearHistoryButton");
    QTest::mouseClick(clear, Qt::LeftButton);
    QCOMPARE(asked_, QStringList{"This action can not be undone. Are you sure?"});
    QCOMPARE(int(config_->RecentFiles().size()), 1);
    answer = true;
    QTest::mouseClick(clear, Qt::LeftButton);
    QVERIFY(config_->RecentFiles().empty());
    QVERIFY(fs::is_empty(cache_->CacheFolder()));
  }

  void aboutBox() {
    TAboutForm about;
    QCOMPARE(about.windowTitle(), QString("About Ondrevo Designer..."));
    auto labels = about.findChildren<QLabel*>();
    QString all;
    for (auto* l : labels) all += l->text();
    QVERIFY(all.contains("0.8.1"));
    QVERIFY(about.findChild<QLabel*>("WebLink")->openExternalLinks());
    about.show();
    QTest::mouseClick(about.findChild<QPushButton*>("OKButton"), Qt::LeftButton);
    QVERIFY(!about.isVisible());
  }
};

int main(int argc, char** argv) {
  TOndrevoApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  ShellWindowsTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "shell_windows_test.moc"
