// The remote window's log: one report per line; a step that ends later gets its outcome
// appended to its own line; error lines are red.
#pragma once

#include <QStringList>
#include <QTextEdit>

namespace ondrevo {

class IDevice;

class TRemoteLog : public QTextEdit {
  Q_OBJECT
 public:
  // A line that may be completed later; it stays valid until the log is cleared.
  struct TLine {
    int Index = -1;
    int Generation = -1;
    QString Text;
  };

  explicit TRemoteLog(QWidget* parent = nullptr);

  TLine Append(const QString& text, bool error = false);
  // "Error on MODEL: message" when the failing device is known, else "Error: message".
  void AppendError(const QString& message, const IDevice* device);
  // Appends " " + suffix to the line, or writes both on a new line when it was cleared meanwhile.
  void Complete(const TLine& line, const QString& suffix);
  void Clear();
  int LineCount() const { return lineCount_; }
  QStringList Lines() const;

 signals:
  void linesChanged();

 private:
  int lineCount_ = 0;
  int generation_ = 0;
};

}  // namespace ondrevo
