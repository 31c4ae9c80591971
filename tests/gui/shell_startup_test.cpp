// Program start with the real editor: command line, window order, recent list, translations.
#include <QMenuBar>
#include <QProcess>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>
#include <clocale>
#include <filesystem>
#include <fstream>

#include "app/Cache.h"
#include "app/Config.h"
#include "app/CrashHandler.h"
#include "app/Startup.h"
#include "app/WelcomeForm.h"
#include "editor/GraphForm.h"

using namespace ondrevo;
namespace fs = std::filesystem;

namespace {
const char* const kDoc =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" standalone=\"yes\"?>\r\n"
    "<ondrevo version=\"1.0\" xmlns=\"http://ondrevo.kestravo.com/schemas/2015/ovx\">\r\n"
    "<arbdata>\r\n<waveform_list>\r\n<waveform name=\"\" type=\"voltage\">\r\n"
    "<segment duration=\"7.00000000\" start=\"0.0000\" end=\"10.0000\"/>\r\n"
    "</waveform>\r\n</waveform_list>\r\n</arbdata>\r\n</ondrevo>\r\n";

QStringList MenuTitles(QMainWindow* window) {
  QStringList titles;
  for (QAction* a : window->menuBar()->actions()) titles << a->text();
  return titles;
}
}  // namespace

class ShellStartupTest : public QObject {
  Q_OBJECT
  QTemporaryDir dir_;
  QString doc_;

 private slots:
  void init() {
    qputenv("APPDATA", dir_.path().toUtf8() + "/appdata");
    fs::remove_all(dir_.path().toStdString() + "/appdata");
    doc_ = dir_.path() + "/ramp.ovx";
    std::ofstream(doc_.toStdString(), std::ios::binary) << kDoc;
  }

  void missingFileShowsTheWelcomeWindow() {
    TShell shell({dir_.path() + "/nothing.ovx"}, QCoreApplication::applicationDirPath());
    shell.Welcome->OnClosed = [] {};
    QVERIFY(shell.Welcome->isVisible());
    QVERIFY(!shell.Editor->isVisible());
    QCOMPARE(shell.Editor->windowTitle(), QString("Ondrevo Designer"));
    QVERIFY(shell.Config->RecentFiles().empty());
  }

  void documentOnTheCommandLineOpensTheEditor() {
    TShell shell({doc_, "--fmax=20000"}, QCoreApplication::applicationDirPath());
    shell.Welcome->OnClosed = [] {};
    QVERIFY(shell.Editor->isVisible());
    QVERIFY(!shell.Welcome->isVisible());
    QCOMPARE(shell.Editor->windowTitle(), QString("ramp.ovx[*] - Ondrevo Designer"));
    QCOMPARE(shell.Editor->DaqPointBudget(), 20000);
    QCOMPARE(shell.Config->RecentFiles().front(), doc_.toStdString());
    QImage preview;
    QVERIFY(shell.Cache->LoadImage(doc_.toStdString(), preview));
    QCOMPARE(preview.size(), QSize(kCacheImageWidth, kCacheImageHeight));

    // Closing the editor brings the welcome window back, with the document as first button.
    QVERIFY(shell.Editor->CloseDocument());
    QVERIFY(!shell.Editor->isVisible());
    QVERIFY(shell.Welcome->isVisible());
    auto* recent = shell.Welcome->findChild<QToolButton*>("Recent1");
    QCOMPARE(recent->text(), QString("&1 ramp.ovx"));
    QVERIFY(!recent->icon().isNull());

    // Its recent button loads it again.
    QTest::mouseClick(recent, Qt::LeftButton);
    QVERIFY(shell.Editor->isVisible());
    QVERIFY(!shell.Welcome->isVisible());
    QCOMPARE(shell.Editor->windowTitle(), QString("ramp.ovx[*] - Ondrevo Designer"));
  }

  void recentListSurvivesARestart() {
    {
      TShell shell({doc_}, QCoreApplication::applicationDirPath());
      shell.Welcome->OnClosed = [] {};
    }
    TShell again({}, QCoreApplication::applicationDirPath());
    again.Welcome->OnClosed = [] {};
    QCOMPARE(again.Editor->RecentFiles(), QStringList{doc_});
  }

  void welcomeNewButtonStartsAnUnnamedDocument() {
    TShell shell({}, QCoreApplication::applicationDirPath());
    shell.Welcome->OnClosed = [] {};
    QTest::mouseClick(shell.Welcome->findChild<QToolButton*>("NewButton"), Qt::LeftButton);
    QVERIFY(shell.Editor->isVisible());
    QVERIFY(!shell.Welcome->isVisible());
    QCOMPARE(shell.Editor->windowTitle(), QString("Unnamed1[*] - Ondrevo Designer"));
  }

  void editorExitEndsAtTheWelcomeWindow() {
    TShell shell({doc_}, QCoreApplication::applicationDirPath());
    int closes = 0;
    shell.Welcome->OnClosed = [&] { ++closes; };
    shell.Editor->Exit();
    QVERIFY(!shell.Editor->isVisible());
    QCOMPARE(closes, 1);
  }

  void germanCatalogue() {
    qputenv("LANGUAGE", "de");
    std::setlocale(LC_ALL, "");
    TShell shell({}, QCoreApplication::applicationDirPath());
    shell.Welcome->OnClosed = [] {};
    qputenv("LANGUAGE", "");
    QVERIFY2(MenuTitles(shell.Editor.get()).contains("&Datei"),
             qPrintable(MenuTitles(shell.Editor.get()).join(",")));
    QCOMPARE(shell.Welcome->windowTitle(), QString("Willkommen bei Ondrevo"));
  }

  void installedProgramStartsWithoutADisplayServer() {
    // The real program: German and offscreen, ended by closing nothing; only its start is checked.
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("LANGUAGE", "de");
    env.insert("LANG", "C.UTF-8");
    program.setProcessEnvironment(env);
    program.start(ONDREVO_PROGRAM, {dir_.path() + "/nothing.ovx"});
    QVERIFY(program.waitForStarted(5000));
    QVERIFY(!program.waitForFinished(1500));  // still running: it started its message loop
    program.kill();
    program.waitForFinished(5000);
    QVERIFY(fs::exists(dir_.path().toStdString() + "/appdata/Kestravo/Ondrevo/Designer"));
  }
};

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  TOndrevoApplication app(argc, argv);
  QApplication::setApplicationName("Ondrevo Designer");
  QApplication::setQuitOnLastWindowClosed(false);
  BindTranslations(QCoreApplication::applicationDirPath());
  ShellStartupTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "shell_startup_test.moc"
