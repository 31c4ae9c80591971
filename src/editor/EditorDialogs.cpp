#include "editor/EditorDialogs.h"

#include <QFileDialog>

namespace ondrevo {

QString TEditorDialogs::GetOpenFileName(QWidget* parent, const QString& title,
                                        const QString& filter) {
  return QFileDialog::getOpenFileName(parent, title, QString(), filter, nullptr,
                                      QFileDialog::ReadOnly);
}

QString TEditorDialogs::GetOpenFileNameIn(QWidget* parent, const QString& title,
                                          const QString& filter, const QString& initialFolder) {
  return QFileDialog::getOpenFileName(parent, title, initialFolder, filter, nullptr,
                                      QFileDialog::ReadOnly);
}

QString TEditorDialogs::GetSaveFileName(QWidget* parent, const QString& title,
                                        const QString& filter, const QString& initialPath) {
  QFileDialog dialog(parent, title, initialPath, filter);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix(QStringLiteral("ovx"));
  dialog.setFileMode(QFileDialog::AnyFile);
  if (!initialPath.isEmpty()) dialog.selectFile(initialPath);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

QMessageBox::StandardButton TEditorDialogs::Message(QWidget* parent, QMessageBox::Icon icon,
                                                    const QString& caption, const QString& text,
                                                    QMessageBox::StandardButtons buttons) {
  QMessageBox box(icon, caption, text, buttons, parent);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

}  // namespace ondrevo
