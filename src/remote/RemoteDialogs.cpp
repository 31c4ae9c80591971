#include "remote/RemoteDialogs.h"

#include <QFileDialog>

#include "remote/SelectDeviceForm.h"

namespace ondrevo {

QMessageBox::StandardButton TRemoteDialogs::Message(QWidget* parent, QMessageBox::Icon icon,
                                                    const QString& caption, const QString& text,
                                                    QMessageBox::StandardButtons buttons) {
  QMessageBox box(icon, caption, text, buttons, parent);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

QString TRemoteDialogs::GetSaveFileName(QWidget* parent, const QString& title,
                                        const QString& filter, const QString& defaultSuffix) {
  QFileDialog dialog(parent, title, QString(), filter);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(defaultSuffix);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

bool TRemoteDialogs::SelectConnectedDevice(QWidget* parent, TDeviceSelection& selection) {
  TSelectDeviceForm form(parent, selection, *this);
  return form.exec() == QDialog::Accepted;
}

}  // namespace ondrevo
