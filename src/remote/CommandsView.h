// The "Commands" page of the remote window: every line the connected transport sends and
// receives, time-stamped, as its trace observer reports it.
#pragma once

#include <QPlainTextEdit>
#include <QStringList>
#include <memory>

namespace ondrevo {

class TInterface;

class TCommandsView : public QPlainTextEdit {
  Q_OBJECT
 public:
  explicit TCommandsView(QWidget* parent = nullptr);
  ~TCommandsView() override;

  // Follows this transport's trace from now on (nullptr: none); the previous one is let go.
  void Trace(const std::shared_ptr<TInterface>& transport);
  QStringList Lines() const;

 private:
  std::weak_ptr<TInterface> traced_;
};

}  // namespace ondrevo
