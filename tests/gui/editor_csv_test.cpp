// "&Import CSV..." and "&Library..." driven through the menu actions, dialogs answered through the
// dialog seam.
#include <QComboBox>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <deque>

#include "document/DocumentIO.h"
#include "editor/GraphForm.h"
#include "editor_fakes.h"
#include "plot/Plot.h"

using namespace ondrevo;

class EditorCsvTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  std::unique_ptr<TGraphForm> form_;
  std::shared_ptr<TScriptedDialogs> dialogs_;
  QStringList storedRecent_;
  int previews_ = 0;

  TGraphForm* Make(TGraphFormSettings s = {}) {
    s.SettingsFolder = dir_.path();
    s.StoreRecentFiles = [this](const QStringList& l) { storedRecent_ = l; };
    form_ = std::make_unique<TGraphForm>(s);
    dialogs_ = std::make_shared<TScriptedDialogs>();
    form_->SetDialogs(dialogs_);
    form_->WritePreviewImage = [this](const QString&) { ++previews_; };
    form_->show();
    return form_.get();
  }
  QString WriteText(const QString& name, const QByteArray& text) {
    const QString path = dir_.filePath(name);
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(text);
    return path;
  }
  // A saved document with both curves, so that the import has something to replace.
  void LoadBothCurves() {
    const QString path = dir_.filePath("both.ovx");
    WriteDocument(path.toStdString(), Ramp({{0, 1}, {2, 3}}), Ramp({{0, 0.5}, {4, 0.5}}));
    QVERIFY(form_->LoadDocument(path));
  }
  QList<QPointF> Rows(const SegmentTable& t) {
    QList<QPointF> rows;
    for (int i = 0; i <= t.LastPointIndex() && t.LastPointIndex() > 0; ++i) {
      rows << QPointF(t[i].Time, t[i].Value);
    }
    return rows;
  }
  static constexpr const char* kTrace =
      "x-axis,1\r\nsecond,Volt\r\n0.0,1.5\r\n0.5,2.5\r\n1.0,-0.2\r\n";

 private slots:
  void init() {
    QFile::remove(dir_.filePath("Ondrevo.cfg"));
    previews_ = 0;
    storedRecent_.clear();
  }

  void importReplacesTheCurvesAndKeepsTheName() {
    Make();
    LoadBothCurves();
    form_->SwitchQuantity(Quantity::Current);
    const QString name = form_->DocumentName();
    dialogs_->files = {WriteText("trace.csv", kTrace)};
    form_->Act().ImportCsv->trigger();

    QCOMPARE(dialogs_->fileTitles, QStringList{"Open CSV file..."});
    QVERIFY(dialogs_->messages.isEmpty());
    QCOMPARE(form_->ActiveQuantity(), Quantity::Voltage);
    QCOMPARE(Rows(form_->Doc().Voltage),
             (QList<QPointF>{{0, 0}, {0, 0}, {0, 1.5}, {0.5, 1.5}, {0.5, 2.5}, {1, 2.5}, {1, 0}}));
    QCOMPARE(form_->Doc().Working.LastPointIndex(), 6);
    QCOMPARE(form_->Doc().Current.LastPointIndex(), 0);
    QCOMPARE(form_->Plot()->Series("I_Line")->Count(), 0);
    QCOMPARE(form_->Plot()->Series("U_Line")->Count(), 7);
    QVERIFY(!form_->Plot()->Series("U_Line")->MarkersVisible());
    QCOMPARE(form_->DocumentName(), name);
    QVERIFY(form_->TableChecked());
    QVERIFY(form_->findChild<QWidget*>("Panel_Right")->isVisible());
    // Zoomed to the 1 s curve only (the 4 s current curve is gone): 100 ms/div.
    QCOMPARE(form_->findChild<QComboBox*>("ComboBox1")->currentText(), QString("100"));
    QCOMPARE(form_->findChild<QComboBox*>("ComboBox2")->currentText(), QString("ms/div"));
    // The imported curve is not thrown away without asking.
    QVERIFY(form_->IsModified());
    dialogs_->answers = {QMessageBox::Cancel};
    QVERIFY(!form_->CloseDocument());
    QCOMPARE(dialogs_->messages.size(), 1);
  }

  void offsetModeAndBudget() {
    TGraphFormSettings s;
    s.Switches.CsvOffsetMode = true;
    Make(s);
    QVERIFY(form_->ImportCsvFile(WriteText("trace.csv", kTrace)));
    QCOMPARE(form_->Doc().Voltage.LastPointIndex(), 6);
    QVERIFY(qAbs(form_->Doc().Voltage[2].Value - 1.7) < 1e-12);
    QVERIFY(qAbs(form_->Doc().Voltage[5].Value - 2.7) < 1e-12);

    QByteArray longTrace = "Model\nFirmware 1\n";
    for (int i = 0; i < 5000; ++i) longTrace += QByteArray::number(i) + "," + "1\n";
    const QString path = WriteText("long.csv", longTrace);
    Make();
    QVERIFY(form_->ImportCsvFile(path));
    QCOMPARE(form_->Doc().Voltage.LastPointIndex(), 2000);  // every 5th sample
    form_->ToggleDaq();                                     // budget 12000: every sample
    QVERIFY(form_->ImportCsvFile(path));
    QCOMPARE(form_->Doc().Voltage.LastPointIndex(), 10000);
  }

  void refusedFilesChangeNothing() {
    Make();
    LoadBothCurves();
    const QList<QPointF> before = Rows(form_->Doc().Voltage);
    for (const char* text :
         {"Model,X\n0,1\n1,2\n", "x-axis,1\nno units\n0,1\n", "x-axis,1\nsecond,Volt\n\n"}) {
      dialogs_->messages.clear();
      QVERIFY(!form_->ImportCsvFile(WriteText("bad.csv", text)));
      QCOMPARE(dialogs_->messages.size(), 1);
      QCOMPARE(Rows(form_->Doc().Voltage), before);
      QCOMPARE(form_->Doc().Current.LastPointIndex(), 1);
      QVERIFY(!form_->IsModified());
    }
    QVERIFY(!form_->ImportCsvFile(dir_.filePath("missing.csv")));
    QCOMPARE(Rows(form_->Doc().Voltage), before);

    // Cancelled dialog: nothing happens.
    dialogs_->messages.clear();
    form_->ImportCsv();
    QCOMPARE(Rows(form_->Doc().Voltage), before);
    QVERIFY(dialogs_->messages.isEmpty());
  }

  void skippedLinesAreReported() {
    Make();
    QVERIFY(form_->ImportCsvFile(WriteText("gaps.csv", "Firmware\n0,1\n0.5,oops\n1,2\n\n")));
    QCOMPARE(form_->Doc().Voltage.LastPointIndex(), 4);
    QCOMPARE(dialogs_->messages.size(), 1);
    QVERIFY(dialogs_->messages[0].contains("1"));
    QVERIFY(dialogs_->messages[0].contains("3"));
  }

  void libraryOpensInTheLibraryFolder() {
    const QString lib = dir_.filePath("Lib");
    QDir().mkpath(lib);
    const QString path = lib + "/template.ovx";
    WriteDocument(path.toStdString(), Ramp({{0, 0}, {1, 5}, {3, 5}}), {});
    TGraphFormSettings s;
    s.LibraryPath = [lib] { return lib; };
    Make(s);
    dialogs_->files = {path};
    form_->Act().Library->trigger();
    QCOMPARE(dialogs_->fileTitles, QStringList{"Open file from library"});
    QCOMPARE(dialogs_->folders, QStringList{lib});
    QVERIFY(dialogs_->messages.isEmpty());
    QCOMPARE(form_->Doc().Voltage.LastPointIndex(), 2);
    QCOMPARE(form_->DocumentName(), QString("template.ovx"));
    QVERIFY(form_->RecentFiles().isEmpty());
    QVERIFY(storedRecent_.isEmpty());
    QCOMPARE(previews_, 0);
  }

  void libraryMissingFolderWarnsAndStillOpens() {
    TGraphFormSettings s;
    s.LibraryPath = [this] { return dir_.filePath("no-such-folder"); };
    Make(s);
    form_->Library();
    QCOMPARE(dialogs_->messages,
             QStringList{"Your library was not found. Please check your library path settings."});
    QCOMPARE(dialogs_->folders, QStringList{QString()});
  }

  void libraryAsksBeforeReplacing() {
    Make();
    QVERIFY(form_->ImportCsvFile(WriteText("trace.csv", kTrace)));
    dialogs_->answers = {QMessageBox::Cancel};
    form_->Library();
    QVERIFY(dialogs_->fileTitles.isEmpty());
    QCOMPARE(form_->Doc().Voltage.LastPointIndex(), 6);
    // "No" discards the changes; Delete all empties the document before the dialog.
    dialogs_->answers = {QMessageBox::No, QMessageBox::Ok};
    form_->Library();
    QCOMPARE(form_->Doc().Voltage.LastPointIndex(), 0);
  }

  void shippedTemplatesLoad() {
    const QDir lib(QStringLiteral(ONDREVO_SOURCE_LIB));
    const QStringList templates = lib.entryList({"*.ovx"}, QDir::Files);
    QVERIFY(!templates.isEmpty());
    TGraphFormSettings s;
    s.LibraryPath = [] { return QStringLiteral(ONDREVO_SOURCE_LIB); };
    Make(s);
    for (const QString& name : templates) {
      dialogs_->files = {lib.filePath(name)};
      dialogs_->messages.clear();
      form_->Library();
      QVERIFY2(dialogs_->messages.isEmpty(), qPrintable(name));
      QVERIFY2(
          form_->Doc().Voltage.LastPointIndex() > 0 || form_->Doc().Current.LastPointIndex() > 0,
          qPrintable(name));
    }
  }
};

QTEST_MAIN(EditorCsvTest)
#include "editor_csv_test.moc"
