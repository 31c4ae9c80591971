#include "app/PreferencesForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/Cache.h"
#include "app/TrQ.h"

namespace ondrevo {

namespace {

const int kBaudRates[] = {110, 150, 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
// Flow-control list order: none, Xon/Xoff, RTS/CTS, DTR/DSR.
const std::int32_t kHandshakes[] = {4112, 4880, 8212, 4136};
}  // namespace

int TPreferencesForm::BaudIndex(std::int32_t baud) {
  for (int i = 0; i < static_cast<int>(std::size(kBaudRates)); ++i)
    if (kBaudRates[i] == baud) return i;
  return -1;
}
int TPreferencesForm::DataBitsIndex(std::int32_t bits) {
  return bits == 7 ? 0 : bits == 8 ? 1 : -1;
}
// List: "No parity", "Even", "Odd".
int TPreferencesForm::ParityIndex(std::int32_t parity) {
  return parity == 1 ? 2 : parity == 2 ? 1 : 0;
}
int TPreferencesForm::StopBitsIndex(std::int32_t stopBits) {
  return stopBits == 2 ? 1 : 0;
}
int TPreferencesForm::HandshakeIndex(std::int32_t handshake) {
  for (int i = 1; i < 4; ++i)
    if (kHandshakes[i] == handshake) return i;
  return 0;
}
std::int32_t TPreferencesForm::ParityValue(int index) {
  return index == 1 ? 2 : index == 2 ? 1 : 0;
}
std::int32_t TPreferencesForm::StopBitsValue(int index) {
  return index == 1 ? 2 : 0;
}
std::int32_t TPreferencesForm::HandshakeValue(int index) {
  return index >= 0 && index < 4 ? kHandshakes[index] : kHandshakes[0];
}

TPreferencesForm::TPreferencesForm(TWConfig& config, TWCache& cache, QWidget* parent)
    : QDialog(parent), config_(config), cache_(cache), working_(config.GetRS232Defaults()) {
  setObjectName("PreferencesForm");
  setWindowTitle(TrQ("Preferences"));
  setModal(true);

  pages_ = new QTabWidget(this);
  pages_->setObjectName("PreferencesPageControl");

  // ---- General ----
  auto* general = new QWidget;
  general->setObjectName("GeneralSheet");
  auto* libGroup = new QGroupBox(TrQ("&Waveform library"), general);
  libGroup->setObjectName("LibraryGroup");
  libPath_ = new QLineEdit(libGroup);
  libPath_->setObjectName("LibPathEdit");
  auto* browse = new QToolButton(libGroup);
  browse->setObjectName("BrowseButton");
  browse->setText(QStringLiteral("..."));
  auto* libLabel = new QLabel(TrQ("Path to waveform library:"), libGroup);
  libLabel->setBuddy(libPath_);
  auto* libRow = new QHBoxLayout;
  libRow->addWidget(libPath_, 1);
  libRow->addWidget(browse);
  auto* libLayout = new QVBoxLayout(libGroup);
  libLayout->addWidget(libLabel);
  libLayout->addLayout(libRow);

  auto* historyGroup = new QGroupBox(TrQ("&File history and cache"), general);
  historyGroup->setObjectName("HistoryGroup");
  auto* historyText = new QLabel(
      TrQ("Ondrevo keeps a history of recently used files and caches preview images of those "
          "files."),
      historyGroup);
  historyText->setWordWrap(true);
  auto* clear = new QPushButton(TrQ("&Clear file history and cache"), historyGroup);
  clear->setObjectName("ClearHistoryButton");
  auto* historyLayout = new QVBoxLayout(historyGroup);
  historyLayout->addWidget(historyText);
  historyLayout->addWidget(clear, 0, Qt::AlignLeft);

  // Kept for its familiar place; it has no effect.
  auto* welcome = new QCheckBox(TrQ("&Show welcome screen on start up"), general);
  welcome->setObjectName("ShowWelcomeCheck");
  welcome->setChecked(true);
  welcome->setEnabled(false);

  auto* generalLayout = new QVBoxLayout(general);
  generalLayout->addWidget(libGroup);
  generalLayout->addWidget(historyGroup);
  generalLayout->addWidget(welcome);
  generalLayout->addStretch();
  pages_->addTab(general, TrQ("&General"));

  // ---- RS 232 ----
  auto* serial = new QWidget;
  serial->setObjectName("RS232Sheet");
  auto* serialText = new QLabel(
      TrQ("Default settings used on RS 232 interfaces for automated device discovery."), serial);
  serialText->setWordWrap(true);
  auto combo = [serial](const char* name, const QStringList& items) {
    auto* c = new QComboBox(serial);
    c->setObjectName(QString::fromLatin1(name));
    c->addItems(items);
    return c;
  };
  QStringList bauds;
  for (int b : kBaudRates) bauds << QString::number(b);
  baud_ = combo("BaudRateBox", bauds);
  dataBits_ = combo("DataBitsBox", {"7", "8"});
  parity_ = combo("ParityBox", {TrQ("No parity"), TrQ("Even"), TrQ("Odd")});
  stopBits_ = combo("StopBitsBox", {"1", "2"});
  flow_ = combo("FlowControlBox",
                {TrQ("No flow control"), TrQ("Xon / Xoff"), TrQ("RTS / CTS"), TrQ("DTR / DSR")});
  auto* form = new QFormLayout;
  form->addRow(TrQ("Symbols per second (Baud rate):"), baud_);
  form->addRow(TrQ("Data bits:"), dataBits_);
  form->addRow(TrQ("Parity:"), parity_);
  form->addRow(TrQ("Stop bits:"), stopBits_);
  form->addRow(TrQ("Flow control:"), flow_);
  auto* factory = new QPushButton(TrQ("&Load factory defaults"), serial);
  factory->setObjectName("FactoryDefaultsButton");
  auto* serialLayout = new QVBoxLayout(serial);
  serialLayout->addWidget(serialText);
  serialLayout->addLayout(form);
  serialLayout->addWidget(factory, 0, Qt::AlignLeft);
  serialLayout->addStretch();
  pages_->addTab(serial, TrQ("&RS 232 Defaults"));

  // ---- LAN ----
  auto* lan = new QWidget;
  lan->setObjectName("LanSheet");
  auto* lanText = new QLabel(TrQ("Instruments on the network are looked for at these hosts, "
                                 "separated by commas: names or addresses, each optionally with "
                                 ":PORT of its SCPI socket (default 5025)."),
                             lan);
  lanText->setWordWrap(true);
  lanHosts_ = new QLineEdit(lan);
  lanHosts_->setObjectName("LanHostsEdit");
  lanText->setBuddy(lanHosts_);
  lanDiscover_ = new QCheckBox(TrQ("Also &search the local network (VXI-11 and mDNS)"), lan);
  lanDiscover_->setObjectName("LanDiscoverCheck");
  auto* lanLayout = new QVBoxLayout(lan);
  lanLayout->addWidget(lanText);
  lanLayout->addWidget(lanHosts_);
  lanLayout->addWidget(lanDiscover_);
  lanLayout->addStretch();
  pages_->addTab(lan, TrQ("&LAN"));

  // ---- buttons ----
  auto* ok = new QPushButton(TrQ("&OK"), this);
  ok->setObjectName("OKButton");
  ok->setDefault(true);
  auto* cancel = new QPushButton(TrQ("&Cancel"), this);
  cancel->setObjectName("CancelButton");
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* all = new QVBoxLayout(this);
  all->addWidget(pages_, 1);
  all->addLayout(buttons);

  // Only the user's picks change the working copy, so an unlisted stored value survives.
  connect(baud_, &QComboBox::activated, this, [this](int i) { working_.BaudRate = kBaudRates[i]; });
  connect(dataBits_, &QComboBox::activated, this, [this](int i) { working_.DataBits = 7 + i; });
  connect(parity_, &QComboBox::activated, this,
          [this](int i) { working_.Parity = ParityValue(i); });
  connect(stopBits_, &QComboBox::activated, this,
          [this](int i) { working_.StopBits = StopBitsValue(i); });
  connect(flow_, &QComboBox::activated, this,
          [this](int i) { working_.Handshake = HandshakeValue(i); });
  connect(factory, &QPushButton::clicked, this, [this] {
    working_ = RS232Defaults{};
    ShowWorkingCopy();
  });
  connect(clear, &QPushButton::clicked, this, &TPreferencesForm::ClearHistory);
  connect(browse, &QToolButton::clicked, this, [this] {
    const QString folder = BrowseFolder(libPath_->text());
    if (!folder.isEmpty()) libPath_->setText(QDir::toNativeSeparators(folder));
  });
  connect(ok, &QPushButton::clicked, this, &TPreferencesForm::accept);
  connect(cancel, &QPushButton::clicked, this, &TPreferencesForm::reject);

  ClearRecentFiles = [this] { config_.ClearRecentFiles(); };
  AskQuestion = [this](const QString& text) {
    return QMessageBox::question(this, TrQ("Ondrevo"), text, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
  };
  BrowseFolder = [this](const QString& start) {
    return QFileDialog::getExistingDirectory(this, TrQ("Select library directory:"), start);
  };
  setFixedSize(360, 319);
}

void TPreferencesForm::showEvent(QShowEvent* event) {
  libPath_->setText(QString::fromStdString(config_.LibraryPath()));
  pages_->setCurrentIndex(0);
  working_ = config_.GetRS232Defaults();
  ShowWorkingCopy();
  lanHosts_->setText(QString::fromStdString(config_.GetLanHosts()));
  lanDiscover_->setChecked(config_.GetLanDiscovery());
  QDialog::showEvent(event);
}

void TPreferencesForm::ShowWorkingCopy() {
  baud_->setCurrentIndex(BaudIndex(working_.BaudRate));
  dataBits_->setCurrentIndex(DataBitsIndex(working_.DataBits));
  parity_->setCurrentIndex(ParityIndex(working_.Parity));
  stopBits_->setCurrentIndex(StopBitsIndex(working_.StopBits));
  flow_->setCurrentIndex(HandshakeIndex(working_.Handshake));
}

void TPreferencesForm::ClearHistory() {
  if (!AskQuestion(TrQ("This action can not be undone. Are you sure?"))) return;
  ClearRecentFiles();
  cache_.ClearCache();
}

void TPreferencesForm::accept() {
  const QString path = libPath_->text();
  if (!QDir(path).exists() || path.isEmpty()) {
    if (!AskQuestion(TrQ("Library path does not exist, save anyway?"))) return;
  }
  config_.SetLibraryPath(path.toStdString());
  config_.SetRS232Defaults(working_);
  config_.SetLanHosts(lanHosts_->text().trimmed().toStdString());
  config_.SetLanDiscovery(lanDiscover_->isChecked());
  QDialog::accept();
}

}  // namespace ondrevo
