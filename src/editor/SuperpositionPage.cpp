#include "editor/SuperpositionPage.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>

#include "document/Translate.h"
#include "editor/SpinEdit.h"

namespace ondrevo {

namespace {
QString T(const char* english) {
  return QString::fromUtf8(_(english));
}
}  // namespace

TSuperpositionPage::TSuperpositionPage(int number, QWidget* parent)
    : QWidget(parent), number_(number) {
  const QString n = QString::number(number);
  setObjectName(QStringLiteral("TabSuperposition%1").arg(n));
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);

  auto* kindBox = new QVBoxLayout;
  auto* group = new QButtonGroup(this);
  const char* names[5] = {"OhneButton", "SinusButton", "RechteckButton", "DreieckButton",
                          "SaegeButton"};
  const char* captions[5] = {N_("&None"), N_("&Sine"), N_("S&quare"), N_("&Triangle"),
                             N_("S&aw tooth")};
  for (int k = 0; k < 5; ++k) {
    auto* b = new QRadioButton(T(captions[k]), this);
    b->setObjectName(QString::fromLatin1(names[k]) + n);
    group->addButton(b, k);
    kindBox->addWidget(b);
    kinds_[static_cast<std::size_t>(k)] = b;
    connect(b, &QRadioButton::clicked, this, [this, k] {
      UpdateDutyVisibility();
      emit kindChosen(static_cast<SuperpositionKind>(k));
    });
  }
  kinds_[0]->setChecked(true);
  kindBox->addStretch();
  layout->addLayout(kindBox);

  auto* fields = new QVBoxLayout;
  const QString prefix = QStringLiteral("Ue%1_").arg(n);
  auto* freq = new QGroupBox(T("Frequency"), this);
  freq->setObjectName(prefix + QStringLiteral("Frequency"));
  auto* fg = new QGridLayout(freq);
  f1_ = new TSpinEdit(prefix + QStringLiteral("F1"), 6, 0.1, freq);
  f2_ = new TSpinEdit(prefix + QStringLiteral("F2"), 6, 0.1, freq);
  for (TSpinEdit* f : {f1_, f2_}) {
    f->setRange(0.000001, 1000000000);
    f->setValue(1);
  }
  unit_ = new QComboBox(freq);
  unit_->setObjectName(prefix + QStringLiteral("Einh"));
  for (const char* u : kFrequencyUnitNames) unit_->addItem(QString::fromLatin1(u));
  unit_->setCurrentIndex(kHertz);
  phase_ = new TSpinEdit(QStringLiteral("Phase_UE%1").arg(n), 0, 1, freq);
  phase_->setRange(0, 360);
  fg->addWidget(new QLabel(T("Start"), freq), 0, 0);
  fg->addWidget(f1_, 0, 1);
  fg->addWidget(unit_, 0, 2);
  fg->addWidget(new QLabel(T("End"), freq), 1, 0);
  fg->addWidget(f2_, 1, 1);
  fg->addWidget(new QLabel(T("Phase"), freq), 2, 0);
  fg->addWidget(phase_, 2, 1);
  fg->addWidget(new QLabel(QStringLiteral("\u00b0"), freq), 2, 2);
  fields->addWidget(freq);

  auto* amp = new QGroupBox(T("Amplitude"), this);
  amp->setObjectName(prefix + QStringLiteral("Amplitude"));
  auto* ag = new QGridLayout(amp);
  a1_ = new TSpinEdit(prefix + QStringLiteral("A1"), 3, 0.1, amp);
  a2_ = new TSpinEdit(prefix + QStringLiteral("A2"), 3, 0.1, amp);
  for (TSpinEdit* a : {a1_, a2_}) {
    a->setRange(0, 30);
    a->setValue(1);
  }
  pwm_ = new TSpinEdit(number == 1 ? QStringLiteral("PWM") : QStringLiteral("PWM2"), 0, 1, amp);
  pwm_->setRange(1, 99);
  pwm_->setValue(50);
  pwmLabel_ = new QLabel(T("Dutycycle"), amp);
  pwmUnit_ = new QLabel(QStringLiteral("%"), amp);
  for (int i = 0; i < 2; ++i)
    ampUnits_[static_cast<std::size_t>(i)] = new QLabel(QStringLiteral("Vss"), amp);
  ag->addWidget(new QLabel(T("Start"), amp), 0, 0);
  ag->addWidget(a1_, 0, 1);
  ag->addWidget(ampUnits_[0], 0, 2);
  ag->addWidget(new QLabel(T("End"), amp), 1, 0);
  ag->addWidget(a2_, 1, 1);
  ag->addWidget(ampUnits_[1], 1, 2);
  ag->addWidget(pwmLabel_, 2, 0);
  ag->addWidget(pwm_, 2, 1);
  ag->addWidget(pwmUnit_, 2, 2);
  fields->addWidget(amp);
  layout->addLayout(fields, 1);

  for (TSpinEdit* f : {f1_, f2_}) {
    f->SetUnits(UnitKind::Frequency, [this] { return FrequencyFactor(unit_->currentIndex()); });
  }
  for (TSpinEdit* s : {f1_, f2_, a1_, a2_}) {
    connect(s, &TSpinEdit::refused, this, &TSuperpositionPage::refused);
  }
  for (TSpinEdit* s : {f1_, f2_, phase_, a1_, a2_}) {
    connect(s, &TSpinEdit::committed, this, [this] { emit applyRequested(false); });
    connect(s, &TSpinEdit::stepped, this, [this] { emit applyRequested(true); });
  }
  // The duty cycle skips the exit after Enter or an arrow.
  connect(pwm_, &TSpinEdit::entered, this, [this] {
    skipExit_.Set(pwm_->value(), true);
    emit applyRequested(false);
  });
  connect(pwm_, &TSpinEdit::stepped, this, [this] {
    skipExit_.Set(pwm_->value(), false);
    emit applyRequested(true);
  });
  connect(pwm_, &TSpinEdit::left, this, [this] {
    switch (skipExit_.Leave(pwm_->value())) {
      case TSkipNextExit::OnExit::Apply:
        emit applyRequested(false);
        break;
      case TSkipNextExit::OnExit::RecordOnly:
        emit recordRequested();
        break;
      case TSkipNextExit::OnExit::Nothing:
        break;
    }
  });
  connect(unit_, &QComboBox::activated, this, [this] { emit applyRequested(false); });
  UpdateDutyVisibility();
}

void TSuperpositionPage::UpdateDutyVisibility() {
  const bool square = Kind() == SuperpositionKind::Square;
  pwm_->setVisible(square);
  pwmLabel_->setVisible(square);
  pwmUnit_->setVisible(square);
}

SuperpositionKind TSuperpositionPage::Kind() const {
  for (int k = 0; k < 5; ++k) {
    if (kinds_[static_cast<std::size_t>(k)]->isChecked()) return static_cast<SuperpositionKind>(k);
  }
  return SuperpositionKind::None;
}

void TSuperpositionPage::SetKind(SuperpositionKind kind) {
  kinds_[static_cast<std::size_t>(kind)]->setChecked(true);
  UpdateDutyVisibility();
}

void TSuperpositionPage::ShowFrequencies(const SuperpositionFields& f) {
  f1_->SetValueQuietly(f.FreqStart);
  f2_->SetValueQuietly(f.FreqEnd);
  unit_->setCurrentIndex(f.Unit);
}

void TSuperpositionPage::Show(const SuperpositionFields& f) {
  SetKind(f.Kind);
  ShowFrequencies(f);
  phase_->SetValueQuietly(f.Phase);
  a1_->SetMaximumIfChanged(std::max(ampMax_, f.AmpStart));
  a2_->SetMaximumIfChanged(std::max(ampMax_, f.AmpEnd));
  a1_->SetValueQuietly(f.AmpStart);
  a2_->SetValueQuietly(f.AmpEnd);
  pwm_->SetValueQuietly(f.DutyCycle);
}

SuperpositionFields TSuperpositionPage::Fields() const {
  SuperpositionFields f;
  f.Kind = Kind();
  f.FreqStart = f1_->value();
  f.FreqEnd = f2_->value();
  f.Unit = unit_->currentIndex();
  f.AmpStart = a1_->value();
  f.AmpEnd = a2_->value();
  f.DutyCycle = static_cast<int>(pwm_->value());
  f.Phase = static_cast<int>(phase_->value());
  return f;
}

void TSuperpositionPage::SetAmplitudeMaximum(double maximum) {
  ampMax_ = maximum;
  a1_->setMaximum(std::max(maximum, a1_->value()));
  a2_->setMaximum(std::max(maximum, a2_->value()));
}

void TSuperpositionPage::SetAmplitudeUnit(const QString& unit) {
  for (QLabel* l : ampUnits_) l->setText(unit);
  const UnitKind kind = unit.startsWith(QLatin1Char('V')) ? UnitKind::Voltage : UnitKind::Current;
  for (TSpinEdit* a : {a1_, a2_}) a->SetUnits(kind, [] { return 1.0; });
}

}  // namespace ondrevo
