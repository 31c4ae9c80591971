// Shared by the editor window tests: dialogs answered from queues, and curves from points.
#pragma once

#include <QMessageBox>
#include <QStringList>
#include <deque>
#include <initializer_list>
#include <utility>

#include "document/SegmentTable.h"
#include "editor/EditorDialogs.h"

namespace ondrevo {

// Answers the editor's dialogs from queues and records what was asked.
class TScriptedDialogs : public TEditorDialogs {
 public:
  std::deque<QString> files;
  std::deque<QMessageBox::StandardButton> answers;
  QStringList messages, fileTitles, folders;

  QString GetOpenFileName(QWidget*, const QString& title, const QString&) override {
    return Next(title);
  }
  QString GetOpenFileNameIn(QWidget*, const QString& title, const QString&,
                            const QString& folder) override {
    folders << folder;
    return Next(title);
  }
  QString GetSaveFileName(QWidget*, const QString& title, const QString&, const QString&) override {
    return Next(title);
  }
  QMessageBox::StandardButton Message(QWidget*, QMessageBox::Icon, const QString&,
                                      const QString& text, QMessageBox::StandardButtons) override {
    messages << text;
    if (answers.empty()) return QMessageBox::Ok;
    auto a = answers.front();
    answers.pop_front();
    return a;
  }

 private:
  QString Next(const QString& title) {
    fileTitles << title;
    if (files.empty()) return {};
    QString f = files.front();
    files.pop_front();
    return f;
  }
};

inline SegmentRow P(double time, double value) {
  SegmentRow r;
  r.Time = time;
  r.Value = value;
  return r;
}

inline SegmentTable Ramp(std::initializer_list<std::pair<double, double>> points) {
  SegmentTable t;
  int i = 0;
  for (auto [time, value] : points) t[i++] = P(time, value);
  t.SetLastPointIndex(i - 1);
  return t;
}

}  // namespace ondrevo
