// Qt's own texts (file dialogs, standard buttons) follow the language of our catalogue.
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QPushButton>
#include <QtTest>
#include <clocale>

#include "app/Startup.h"

using namespace ondrevo;

namespace {

// The button texts of Qt's own (not the desktop's) open dialog.
QStringList FileDialogButtons() {
  QFileDialog dialog(nullptr, QStringLiteral("Open"));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  QStringList texts;
  for (QDialogButtonBox* box : dialog.findChildren<QDialogButtonBox*>())
    for (QAbstractButton* button : box->buttons()) texts << button->text();
  return texts;
}

QString StandardButton(QDialogButtonBox::StandardButton which) {
  QDialogButtonBox box(which);
  return box.button(which)->text();
}

QString SwitchLanguage(const char* language) {
  qputenv("LANGUAGE", language);
  std::setlocale(LC_ALL, "");
  return InstallQtTranslations();
}

}  // namespace

class QtCatalogueTest : public QObject {
  Q_OBJECT
 private slots:
  void germanReachesQtsDialogs() {
    QCOMPARE(SwitchLanguage("de"), QString("de"));
    const QStringList texts = FileDialogButtons();
    QVERIFY2(texts.contains(QString::fromUtf8("&Öffnen")), qPrintable(texts.join(',')));
    QVERIFY2(texts.contains("Abbrechen"), qPrintable(texts.join(',')));
    QCOMPARE(StandardButton(QDialogButtonBox::Save), QString("Speichern"));
    QCOMPARE(StandardButton(QDialogButtonBox::Cancel), QString("Abbrechen"));
  }

  void englishReplacesTheGermanCatalogue() {
    QCOMPARE(SwitchLanguage("de"), QString("de"));
    QCOMPARE(SwitchLanguage("en"), QString());
    const QStringList texts = FileDialogButtons();
    QVERIFY2(texts.contains("&Open"), qPrintable(texts.join(',')));
    QVERIFY2(texts.contains("Cancel"), qPrintable(texts.join(',')));
    QCOMPARE(StandardButton(QDialogButtonBox::Save), QString("Save"));
  }

  void aLanguageWeDoNotSpeakLeavesQtEnglish() {
    // Qt has French, our texts do not: half-French dialogs would be worse than English ones.
    QCOMPARE(SwitchLanguage("fr"), QString());
    QCOMPARE(StandardButton(QDialogButtonBox::Cancel), QString("Cancel"));
  }

  void cleanupTestCase() { SwitchLanguage(""); }
};

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  QApplication app(argc, argv);
  BindTranslations(QCoreApplication::applicationDirPath());
  QtCatalogueTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "shell_qt_catalogue_test.moc"
