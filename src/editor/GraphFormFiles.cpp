#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QMenu>

#include "document/AtomicFile.h"
#include "document/CsvImport.h"
#include "document/DocumentIO.h"
#include "editor/CurveView.h"
#include "editor/DeviceMenu.h"
#include "editor/GraphForm.h"
#include "editor/GraphFormText.h"
#include "editor/SegmentGrid.h"
#include "editor/Timescale.h"
#include "plot/Plot.h"

// The editor window's document commands: new, open, library, save, CSV import, close and the
// recent list.
namespace ondrevo {

// ---- document commands ------------------------------------------------------------------------

QString TGraphForm::SaveFilter() const {
  return T("Ondrevo files (*.ovx)") + QStringLiteral(" (*.ovx);;") + T("All files (*.*)") +
         QStringLiteral(" (*)");
}

void TGraphForm::NewDocumentState() {
  HideTable();
  ResetEditor(true);
  ++untitled_;
  docFolder_.clear();
  docName_ = T("Unnamed") + QString::number(untitled_);
  UpdateCaption();
  SetTimescale(0, kUnitSecond);
  plot_->SetAxisCaption(PlotAxis::Bottom, T(kUnitCaptions[kUnitSecond]));
  plot_->SetAxisRange(PlotAxis::Bottom, 0, 10);
  timeSpan_ = 10;
  snapX_->setCurrentText(QStringLiteral("10"));
  snapY_->setCurrentText(QStringLiteral("10"));
  RecomputeSnapX();
  RecomputeSnapY();
  UpdateTimeAxisLabels();
}

void TGraphForm::New() {
  if (!SaveChangesPrompt()) return;
  NewDocumentState();
}

QString TGraphForm::TrySave(const QString& path) {
  grid_->CommitPending();
  if (IsReadOnlyFile(path.toStdString())) {
    return T("The file is read-only. Please choose a different filename.");
  }
  try {
    WriteDocument(path);
  } catch (const std::exception& e) {
    return T("The document could not be saved.") + QStringLiteral("\n\n") +
           QString::fromStdString(e.what());
  }
  if (WritePreviewImage) WritePreviewImage(path);
  return {};
}

void TGraphForm::RememberStamp(const QString& path) {
  stampPath_ = QFileInfo(path).absoluteFilePath();
  docStamp_ = StampOf(path.toStdString());
}

bool TGraphForm::MayReplace(const QString& path) {
  if (QFileInfo(path).absoluteFilePath() != stampPath_) return true;
  const TFileStamp now = StampOf(path.toStdString());
  if (!now.Exists || now == docStamp_) return true;
  const auto answer =
      dialogs_->Message(this, QMessageBox::Warning, T("Ondrevo"),
                        T("The file has been changed on disk since it was opened. Overwrite it?") +
                            QStringLiteral("\n\n") + path,
                        QMessageBox::Yes | QMessageBox::No);
  return answer == QMessageBox::Yes;
}

bool TGraphForm::SaveChangesPrompt() {
  if (!IsModified()) return true;
  const auto answer = dialogs_->Message(this, QMessageBox::Warning, T("Ondrevo"),
                                        T("Unsaved changes will be lost. Save document?"),
                                        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  if (answer == QMessageBox::Cancel) return false;
  if (answer == QMessageBox::No) return true;
  // A new document has no folder: its bare name must not overwrite a file of that name in the
  // working folder, so it goes straight to the dialog.
  QString path = docFolder_.isEmpty() ? QString() : docFolder_ + docName_;
  bool dialogUsed = false;
  for (;;) {
    if (!path.isEmpty()) {
      const bool exists = QFileInfo::exists(path);
      if (((exists && !IsReadOnlyFile(path.toStdString())) || (!exists && dialogUsed)) &&
          (dialogUsed || MayReplace(path))) {
        // The reason is kept: a full disk is not a read-only file.
        const QString error = TrySave(path);
        if (error.isEmpty()) {
          // Saved: a command that then keeps the document (a recent file that is gone) must
          // not ask again.
          ClearHistory();
          return true;
        }
        if (dialogUsed) ShowError(error);
      } else if (dialogUsed) {
        ShowError(T("The file is read-only. Please choose a different filename."));
      }
    }
    path =
        dialogs_->GetSaveFileName(this, T("Save file as..."), SaveFilter(), docFolder_ + docName_);
    if (path.isEmpty()) return false;
    if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".ovx");
    dialogUsed = true;
  }
}

void TGraphForm::WriteDocument(const QString& path) {
  ondrevo::WriteDocument(path.toStdString(), Doc().Voltage, Doc().Current);
  RememberStamp(path);
  AddRecentFile(path);
}

bool TGraphForm::Save() {
  if (docFolder_.isEmpty() || docName_.isEmpty()) return SaveAs();
  const QString path = docFolder_ + docName_;
  if (IsReadOnlyFile(path.toStdString())) return SaveAs();
  // Changed by someone else since it was opened: replaced only when the user says so, else
  // saved under another name.
  if (!MayReplace(path)) return SaveAs();
  grid_->CommitPending();
  try {
    WriteDocument(path);
  } catch (const std::exception& e) {
    // Shown here rather than as an unhandled error: the document stays modified and open.
    ShowError(T("The document could not be saved."), QString::fromStdString(e.what()));
    return false;
  }
  if (WritePreviewImage) WritePreviewImage(path);
  ClearHistory();
  return true;
}

bool TGraphForm::SaveAs() {
  for (;;) {
    QString path =
        dialogs_->GetSaveFileName(this, T("Save file as..."), SaveFilter(), docFolder_ + docName_);
    if (path.isEmpty()) return false;
    if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".ovx");
    const QString error = TrySave(path);
    if (error.isEmpty()) {
      const QFileInfo info(path);
      docName_ = info.fileName();
      docFolder_ = QDir::toNativeSeparators(info.absolutePath());
      if (!docFolder_.endsWith(QDir::separator())) docFolder_ += QDir::separator();
      UpdateCaption();
      ClearHistory();
      return true;
    }
    ShowError(error);
  }
}

void TGraphForm::Open() {
  if (!SaveChangesPrompt()) return;
  NewDocumentState();
  const QString path = dialogs_->GetOpenFileName(this, T("Open file..."), SaveFilter());
  if (path.isEmpty()) return;
  if (!LoadDocument(path)) return;
  AddRecentFile(path);
  if (WritePreviewImage) WritePreviewImage(path);
}

bool TGraphForm::LoadDocument(const QString& path) {
  ResetEditor(true);
  const QFileInfo info(path);
  SegmentTable voltage, current;
  // Taken before reading: a change while it is read counts as a change.
  const TFileStamp stamp = StampOf(path.toStdString());
  try {
    ReadDocumentFile(path.toStdString(), voltage, current);
  } catch (const std::exception& e) {
    // Never keep the file's name with a partial document: Save would overwrite the file.
    NewDocumentState();
    ShowError(T("The document could not be read."), QString::fromStdString(e.what()));
    return false;
  }
  docName_ = info.fileName();
  docFolder_ = info.absolutePath();
  if (!docFolder_.endsWith(QLatin1Char('/'))) docFolder_ += QLatin1Char('/');
  stampPath_ = info.absoluteFilePath();
  docStamp_ = stamp;
  UpdateCaption(IsReadOnlyFile(path.toStdString()));

  device_->ApplyInterfaceAvailability();
  Curve(Quantity::Voltage)->SetMarkersVisible(true);
  Curve(Quantity::Current)->SetMarkersVisible(true);
  // The commit rules run on what was read: what is shown is what a save writes.
  // Moved: a long curve is not held twice while its grid rows are made.
  core_->SetDocument(std::move(voltage), std::move(current));
  ClearHistory();
  RecomputeSnapX();
  RecomputeSnapY();
  UpdateSpinLimits();
  // The table comes with the points of the active curve.
  if (core_->Working().LastPointIndex() > 0 && !TableChecked()) {
    SetTableChecked(true);
    panelRight_->show();
  }
  if (TableChecked()) {
    RebuildGrid(true);
    grid_->SelectCell(0, kColValue);
  }
  UpdateRemoteEnabled();
  plot_->Replot();
  return true;
}

void TGraphForm::Library() {
  if (!SaveChangesPrompt()) return;
  DeleteAll();
  QString folder = settings_.LibraryPath ? settings_.LibraryPath() : QString();
  if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
    dialogs_->Message(this, QMessageBox::Warning, T("Ondrevo"),
                      T("Your library was not found. Please check your library path settings."),
                      QMessageBox::Ok);
    folder.clear();
  }
  const QString path =
      dialogs_->GetOpenFileNameIn(this, T("Open file from library"), SaveFilter(), folder);
  if (path.isEmpty()) return;
  // A template, not a document the user worked on: no recent entry, no preview image.
  LoadDocument(path);
}

void TGraphForm::ImportCsv() {
  const QString filter = T("CSV files (*.csv)") + QStringLiteral(";;") + T("Text files (*.txt)") +
                         QStringLiteral(";;") + T("All files (*.*)") + QStringLiteral(" (*)");
  const QString path = dialogs_->GetOpenFileName(this, T("Open CSV file..."), filter);
  if (path.isEmpty()) return;
  ImportCsvFile(path);
}

bool TGraphForm::ImportCsvFile(const QString& path) {
  // Everything that can fail is done before the document is touched.
  CsvTrace trace;
  CsvStaircase staircase;
  try {
    trace = ReadCsvFile(path.toStdString());
    if (trace.Layout == CsvLayout::Unknown) {
      dialogs_->Message(
          this, QMessageBox::Warning, T("Ondrevo"),
          T("The file is not a CSV file of a known layout:") + QStringLiteral("\n\n") + path,
          QMessageBox::Ok);
      return false;
    }
    if (trace.Samples.empty()) {
      dialogs_->Message(this, QMessageBox::Warning, T("Ondrevo"),
                        T("The file contains no data:") + QStringLiteral("\n\n") + path,
                        QMessageBox::Ok);
      return false;
    }
    staircase = MakeCsvStaircase(trace, switches_.CsvOffsetMode, PointBudget());
  } catch (const std::exception& e) {
    dialogs_->Message(this, QMessageBox::Critical, T("Ondrevo"),
                      T("The file could not be imported.") + QStringLiteral("\n\n") +
                          QString::fromStdString(e.what()),
                      QMessageBox::Ok);
    return false;
  }

  SwitchQuantity(Quantity::Voltage);
  Curve(Quantity::Voltage)->SetMarkersVisible(false);
  Curve(Quantity::Current)->SetMarkersVisible(false);
  SegmentTable imported;
  StoreCsvStaircase(staircase, imported);
  // The current curve goes before the zoom, so that the time axis fits what is left.
  core_->SetDocument(imported, SegmentTable{});
  ZoomToFit();
  SetTableChecked(true);
  RebuildGrid();
  panelRight_->show();
  UpdateRemoteEnabled();
  // Recorded so that closing asks before the imported curve is thrown away.
  RecordStep();
  plot_->Replot();

  if (trace.SkippedRecords > 0) {
    dialogs_->Message(this, QMessageBox::Warning, T("Ondrevo"),
                      T("Lines of the file that hold no valid data were skipped: %1 (the first "
                        "is line %2).")
                          .arg(trace.SkippedRecords)
                          .arg(trace.FirstSkippedLine),
                      QMessageBox::Ok);
  }
  return true;
}

void TGraphForm::OpenRecent(const QString& path) {
  if (!SaveChangesPrompt()) return;
  if (TableChecked()) {
    HideTable();
    ResetEditor(false);
  }
  if (QFileInfo::exists(path)) {
    AddRecentFile(path);
    LoadDocument(path);
    return;
  }
  const auto answer = dialogs_->Message(this, QMessageBox::Question, T("Ondrevo"),
                                        T("The file can not be found. Remove it from history?"),
                                        QMessageBox::Yes | QMessageBox::No);
  if (answer == QMessageBox::Yes) RemoveRecentFile(path);
}

bool TGraphForm::CloseDocument() {
  if (!SaveChangesPrompt()) return false;
  SaveDeviceConfiguration();
  ResetEditor(true);
  // Fully back to voltage: tables, buttons, captions, limits and the current axis.
  SwitchQuantity(Quantity::Voltage);
  HideTable();
  if (settings_.StorePlacement && isVisible()) {
    try {
      settings_.StorePlacement(saveGeometry());
    } catch (const std::exception& e) {
      ShowError(T("The settings file could not be written."), QString::fromStdString(e.what()));
    }
  }
  hide();
  emit closed();
  return true;
}

void TGraphForm::Exit() {
  CloseDocument();
  if (!isVisible()) emit exitRequested();
}

void TGraphForm::DeleteAll() {
  if (!TableChecked()) return;
  HideTable();
  ResetEditor(false);
  plot_->Replot();
}

// ---- recent list ------------------------------------------------------------------------------

void TGraphForm::UpdateRecentMenu() {
  recentMenu_->clear();
  for (int i = 0; i < recent_.size(); ++i) {
    const QString path = recent_[i];
    // "&" in a path is shown, not taken as an accelerator.
    QString shown = path;
    shown.replace(QLatin1Char('&'), QStringLiteral("&&"));
    QAction* a = recentMenu_->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(shown));
    a->setObjectName(QStringLiteral("actRecent%1").arg(i + 1));
    a->setStatusTip(path);
    connect(a, &QAction::triggered, this, [this, path] { OpenRecent(path); });
  }
  recentMenu_->addSeparator();
  recentMenu_->addAction(act_.ClearHistory);
}

void TGraphForm::StoreRecent() {
  UpdateRecentMenu();
  if (settings_.StoreRecentFiles) {
    // A settings file that cannot be written must not turn a saved document into a failure,
    // but the user learns that the list will not survive a restart.
    try {
      settings_.StoreRecentFiles(recent_);
    } catch (const std::exception& e) {
      ShowError(T("The settings file could not be written."), QString::fromStdString(e.what()));
    }
  }
  emit recentFilesChanged();
}

void TGraphForm::AddRecentFile(const QString& path) {
  recent_.removeAll(path);
  recent_.prepend(path);
  while (recent_.size() > kMaxRecentFiles) recent_.removeLast();
  StoreRecent();
}

void TGraphForm::RemoveRecentFile(const QString& path) {
  recent_.removeAll(path);
  StoreRecent();
}

void TGraphForm::ClearRecentFiles() {
  recent_.clear();
  StoreRecent();
}

}  // namespace ondrevo
