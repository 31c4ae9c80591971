#include "editor/GeneralPage.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>

#include "document/Translate.h"
#include "editor/CurveView.h"
#include "editor/SpinEdit.h"

namespace ondrevo {

namespace {
QString T(const char* english) {
  return QString::fromUtf8(_(english));
}
}  // namespace

TGeneralPage::TGeneralPage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("TabGeneral"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  valueGroup_ = new QGroupBox(T("Voltage"), this);
  valueGroup_->setObjectName(QStringLiteral("GroupValue"));
  auto* vg = new QGridLayout(valueGroup_);
  yl_ = new TSpinEdit(QStringLiteral("YeditL"), 3, 1, valueGroup_);
  yr_ = new TSpinEdit(QStringLiteral("YeditR"), 3, 1, valueGroup_);
  unitL_ = new QLabel(QStringLiteral("V"), valueGroup_);
  unitR_ = new QLabel(QStringLiteral("V"), valueGroup_);
  vg->addWidget(new QLabel(T("Start"), valueGroup_), 0, 0);
  vg->addWidget(yl_, 0, 1);
  vg->addWidget(unitL_, 0, 2);
  vg->addWidget(new QLabel(T("End"), valueGroup_), 1, 0);
  vg->addWidget(yr_, 1, 1);
  vg->addWidget(unitR_, 1, 2);
  layout->addWidget(valueGroup_);

  auto* timeGroup = new QGroupBox(T("Time"), this);
  timeGroup->setObjectName(QStringLiteral("GroupTime"));
  auto* tg = new QGridLayout(timeGroup);
  xl_ = new TSpinEdit(QStringLiteral("XeditL"), 8, 1, timeGroup);
  xr_ = new TSpinEdit(QStringLiteral("XeditR"), 8, 1, timeGroup);
  xl_->RemoveLimits();
  xr_->RemoveLimits();
  timeL_ = new QLabel(QStringLiteral("s"), timeGroup);
  timeL_->setObjectName(QStringLiteral("Label11"));
  timeR_ = new QLabel(QStringLiteral("s"), timeGroup);
  timeR_->setObjectName(QStringLiteral("Label14"));
  tg->addWidget(new QLabel(T("Start"), timeGroup), 0, 0);
  tg->addWidget(xl_, 0, 1);
  tg->addWidget(timeL_, 0, 2);
  tg->addWidget(new QLabel(T("End"), timeGroup), 1, 0);
  tg->addWidget(xr_, 1, 1);
  tg->addWidget(timeR_, 1, 2);
  layout->addWidget(timeGroup);
  layout->addStretch();

  for (TSpinEdit* s : {yl_, yr_, xl_, xr_}) {
    connect(s, &TSpinEdit::committed, this, [this] { emit applyRequested(false); });
  }
  for (TSpinEdit* s : {yl_, yr_}) {
    connect(s, &TSpinEdit::stepped, this, [this] { emit applyRequested(true); });
  }
  for (TSpinEdit* s : {xl_, xr_}) {
    s->SetUnits(UnitKind::Time, [this] { return UnitSeconds(timeL_->text().toStdString()); });
  }
  for (TSpinEdit* s : {yl_, yr_, xl_, xr_}) {
    connect(s, &TSpinEdit::refused, this, &TGeneralPage::refused);
  }
  connect(xl_, &TSpinEdit::stepped, this, &TGeneralPage::startStepped);
  connect(xr_, &TSpinEdit::stepped, this, &TGeneralPage::endStepped);
}

void TGeneralPage::Show(const TabValues& v) {
  // A stored value beyond the limit is shown as it is: brought to the limit, the next apply
  // would write the limit back into a point nobody touched.
  yl_->SetMaximumIfChanged(std::max(valueMax_, v.StartValue));
  yr_->SetMaximumIfChanged(std::max(valueMax_, v.EndValue));
  yl_->SetValueQuietly(v.StartValue);
  yr_->SetValueQuietly(v.EndValue);
  xl_->RemoveLimits();
  xr_->RemoveLimits();
  xl_->SetValueQuietly(v.StartTime);
  xr_->SetValueQuietly(v.EndTime);
  timeL_->setText(QString::fromStdString(v.TimeUnit));
  timeR_->setText(QString::fromStdString(v.TimeUnit));
}

void TGeneralPage::Read(TabValues& v) const {
  v.StartValue = yl_->value();
  v.EndValue = yr_->value();
  v.StartTime = xl_->value();
  v.EndTime = xr_->value();
  v.TimeUnit = timeL_->text().toStdString();
}

QString TGeneralPage::TimeUnit() const {
  return timeL_->text();
}

void TGeneralPage::SetQuantity(Quantity q) {
  const bool voltage = q == Quantity::Voltage;
  valueGroup_->setTitle(voltage ? T("Voltage") : T("Current"));
  unitL_->setText(voltage ? QStringLiteral("V") : QStringLiteral("A"));
  unitR_->setText(unitL_->text());
  for (TSpinEdit* s : {yl_, yr_}) {
    s->SetUnits(voltage ? UnitKind::Voltage : UnitKind::Current, [] { return 1.0; });
  }
}

void TGeneralPage::SetValueMaximum(double maximum) {
  valueMax_ = maximum;
  yl_->setRange(0, std::max(maximum, yl_->value()));
  yr_->setRange(0, std::max(maximum, yr_->value()));
}

void TGeneralPage::MarkBeyond(const QString& start, const QString& end) {
  for (auto [spin, finding] : {std::pair{yl_, start}, std::pair{yr_, end}}) {
    QPalette palette = spin->style()->standardPalette();
    if (!finding.isEmpty()) palette.setColor(QPalette::Base, kBeyondLimitColor);
    // Each setPalette repaints the field and the tab around it, also when nothing changed.
    if (!spin->testAttribute(Qt::WA_SetPalette) || spin->palette() != palette)
      spin->setPalette(palette);
    if (spin->toolTip() != finding) spin->setToolTip(finding);
  }
}

void TGeneralPage::SetStartEnabled(bool enabled) {
  xl_->setEnabled(enabled);
}

}  // namespace ondrevo
