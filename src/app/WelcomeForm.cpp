#include "app/WelcomeForm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QIcon>
#include <QImage>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>

#include "app/Cache.h"
#include "app/Config.h"
#include "app/Icons.h"
#include "app/TrQ.h"

namespace ondrevo {

namespace {

QToolButton* MakeButton(QWidget* parent, const char* name, const QString& caption,
                        const QString& hint, const QIcon& icon) {
  auto* b = new QToolButton(parent);
  b->setObjectName(QString::fromLatin1(name));
  b->setText(caption);
  b->setToolTip(hint);
  b->setStatusTip(hint);
  b->setIcon(icon);
  b->setIconSize(QSize(48, 48));
  b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  b->setAutoRaise(true);
  b->setFixedWidth(121);
  b->setMinimumHeight(90);
  b->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
  return b;
}
}  // namespace

TWelcomeForm::TWelcomeForm(TWConfig& config, TWCache& cache, QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint),
      config_(config),
      cache_(cache) {
  setObjectName("WelcomeForm");
  setWindowTitle(TrQ("Welcome to Ondrevo"));
  setWindowIcon(AppIcon());
  setAttribute(Qt::WA_QuitOnClose, true);

  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(8, 4, 8, 4);
  grid->setSpacing(4);
  auto* newButton = MakeButton(this, "NewButton", TrQ("&New curve"), TrQ("Create a new document"),
                               ThemeIcon({}, "new"));
  auto* openButton = MakeButton(this, "OpenButton", TrQ("&Open..."), TrQ("Open existing document"),
                                ThemeIcon({}, "open"));
  auto* libraryButton =
      MakeButton(this, "LibraryButton", TrQ("&Library..."),
                 TrQ("Create a new document based on a library file"), ThemeIcon({}, "library"));
  auto* exitButton =
      MakeButton(this, "ExitButton", TrQ("&Exit"), TrQ("Exit Ondrevo"), ThemeIcon({}, "exit"));
  grid->addWidget(newButton, 0, 0);
  grid->addWidget(openButton, 0, 1);
  grid->addWidget(libraryButton, 0, 2);
  grid->addWidget(exitButton, 0, 3);
  for (int i = 0; i < 4; ++i) {
    recent_[i] =
        MakeButton(this, QString("Recent%1").arg(i + 1).toLatin1().constData(), {}, {}, QIcon());
    recent_[i]->setIconSize(QSize(kCacheImageWidth, kCacheImageHeight));
    recent_[i]->setVisible(false);
    grid->addWidget(recent_[i], 1, i);
    connect(recent_[i], &QToolButton::clicked, this, [this, i] { ChooseRecent(i); });
  }
  connect(newButton, &QToolButton::clicked, this, [this] { Run(NewDocument); });
  connect(openButton, &QToolButton::clicked, this, [this] { Run(OpenDocument); });
  connect(libraryButton, &QToolButton::clicked, this, [this] { Run(LibraryDocument); });
  connect(exitButton, &QToolButton::clicked, this, &QWidget::close);

  // The welcome window is the main window: closing it ends the program.
  OnClosed = [] { QApplication::quit(); };
  RecentFiles = [this] { return config_.RecentFiles(); };
  RemoveRecent = [this](const std::string& path) { config_.RemoveRecentFile(path); };
  AskQuestion = [this](const QString& text) {
    return QMessageBox::question(this, TrQ("Ondrevo"), text, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
  };
  setFixedSize(521, 201);
}

void TWelcomeForm::Run(const std::function<void()>& command) {
  // The welcome window hides even when the user cancels inside the editor.
  if (command) command();
  hide();
}

void TWelcomeForm::FillRecentButtons() {
  for (auto* b : recent_) b->setVisible(false);
  const std::vector<std::string> files = RecentFiles();
  for (int i = 0; i < 4 && i < static_cast<int>(files.size()); ++i) {
    const QString path = QString::fromStdString(files[i]);
    // A literal "&" in a name must not become an accelerator.
    QString name = QFileInfo(path).fileName().replace("&", "&&");
    recent_[i]->setText(QString("&%1 %2").arg(i + 1).arg(name));
    recent_[i]->setToolTip(path);
    recent_[i]->setStatusTip(path);
    QImage picture;
    if (cache_.LoadImage(files[i], picture))
      recent_[i]->setIcon(QIcon(QPixmap::fromImage(picture)));
    else
      recent_[i]->setIcon(QIcon());
    recent_[i]->setVisible(true);
  }
}

void TWelcomeForm::ChooseRecent(int index) {
  if (index < 0 || index >= 4 || !recent_[index]->isVisible()) return;
  const std::string path = recent_[index]->toolTip().toStdString();
  if (QFileInfo(QString::fromStdString(path)).isFile()) {
    if (LoadRecent) LoadRecent(path);
    hide();
    return;
  }
  if (AskQuestion(TrQ("The file can not be found. Remove it from history?"))) {
    RemoveRecent(path);
    FillRecentButtons();
  }
}

void TWelcomeForm::showEvent(QShowEvent* event) {
  FillRecentButtons();
  // Centred on its screen when first shown; later the user's placement stays.
  if (!centred_ && screen()) {
    const QRect frame = frameGeometry();
    move(screen()->availableGeometry().center() - QPoint(frame.width() / 2, frame.height() / 2));
    centred_ = true;
  }
  QWidget::showEvent(event);
}

void TWelcomeForm::closeEvent(QCloseEvent* event) {
  QWidget::closeEvent(event);
  if (OnClosed) OnClosed();
}

}  // namespace ondrevo
