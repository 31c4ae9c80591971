// The document named on the program's command line, among its switches.
#include <QTemporaryDir>
#include <QtTest>

#include "app/Startup.h"

using namespace ondrevo;

class ShellArgumentsTest : public QObject {
  Q_OBJECT
 private slots:
  void documentIsFoundBehindSwitches() {
    QTemporaryDir dir;
    const QString doc = dir.filePath("wave.ovx");
    QFile file(doc);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QCOMPARE(DocumentArgument({"--demo", doc}), QFileInfo(doc).absoluteFilePath());
    QCOMPARE(DocumentArgument({doc, "--demo"}), QFileInfo(doc).absoluteFilePath());
    QCOMPARE(DocumentArgument({"\\COFF", dir.filePath("missing.ovx"), doc}),
             QFileInfo(doc).absoluteFilePath());
    QCOMPARE(DocumentArgument({"--demo"}), QString());
    QCOMPARE(DocumentArgument({dir.path()}), QString());  // a folder is no document
  }
};

QTEST_MAIN(ShellArgumentsTest)
#include "shell_arguments_test.moc"
