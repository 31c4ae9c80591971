#include "model/Modifiers.h"

#include <algorithm>
#include <cmath>

namespace ondrevo {

namespace {

constexpr double kPi = kTwoPi / 2.0;
constexpr double kSquareEpsilon = 0.000000001;

double ValueOr(const TModifierPtr& m, double t, double absent) {
  return m ? m->GetValue(t) : absent;
}

// Largest magnitude of an amplitude over [a, b]; 1 without an amplitude.
double PeakOf(const TModifierPtr& amplitude, double a, double b) {
  if (!amplitude) return 1.0;
  return std::max(std::fabs(amplitude->GetMin(a, b)), std::fabs(amplitude->GetMax(a, b)));
}

// Triangle and sawtooth take the upper amplitude bound as it is, not its magnitude.
double LopsidedPeakOf(const TModifierPtr& amplitude, double a, double b) {
  if (!amplitude) return 1.0;
  return std::max(std::fabs(amplitude->GetMin(a, b)), amplitude->GetMax(a, b));
}

double TwentyPerPeriod(const TModifierPtr& frequency, double a, double b) {
  return frequency ? 20.0 * frequency->GetMax(a, b) : 20.0;
}

[[noreturn]] void NoMean() {
  throw EAbstractError("The mean of a square, triangle or sawtooth function is not defined");
}

}  // namespace

// ---- add

TAddModifier::TAddModifier(TModifierPtr left, TModifierPtr right)
    : Left(std::move(left)), Right(std::move(right)) {}

double TAddModifier::GetValue(double t) const {
  return (Left ? Left->GetValue(t) : 0.0) + (Right ? Right->GetValue(t) : 0.0);
}

double TAddModifier::GetMean(double t) const {
  return (Left ? Left->GetMean(t) : 0.0) + (Right ? Right->GetMean(t) : 0.0);
}

double TAddModifier::GetMin(double a, double b) const {
  return (Left ? Left->GetMin(a, b) : 0.0) + (Right ? Right->GetMin(a, b) : 0.0);
}

double TAddModifier::GetMax(double a, double b) const {
  return (Left ? Left->GetMax(a, b) : 0.0) + (Right ? Right->GetMax(a, b) : 0.0);
}

double TAddModifier::GetSampleRate(double a, double b) const {
  if (Left && Right) return std::max(Left->GetSampleRate(a, b), Right->GetSampleRate(a, b));
  if (Left) return Left->GetSampleRate(a, b);
  if (Right) return Right->GetSampleRate(a, b);
  return 0.0;
}

bool TAddModifier::IsConstant() const {
  return (!Left || Left->IsConstant()) && (!Right || Right->IsConstant());
}

// ---- gradient

TGradientModifier::TGradientModifier(TModifierPtr slope) : Slope(std::move(slope)) {}

double TGradientModifier::GetValue(double t) const {
  return Slope ? t * Slope->GetValue(t) : t;
}

double TGradientModifier::GetMean(double t) const {
  return Slope ? Slope->GetValue(t) * t / 2.0 : t;
}

double TGradientModifier::GetMin(double a, double b) const {
  if (!Slope) return a;
  const double k = Slope->GetMin(a, b);
  return std::min(k * a, k * b);
}

double TGradientModifier::GetMax(double a, double b) const {
  if (!Slope) return b;
  const double k = Slope->GetMax(a, b);
  return std::max(k * a, k * b);
}

double TGradientModifier::GetSampleRate(double a, double b) const {
  return Slope ? std::max(Slope->GetSampleRate(a, b), 10.0) : 10.0;
}

// ---- sine

TSineModifier::TSineModifier(TModifierPtr amplitude, TModifierPtr frequency, TModifierPtr phase)
    : Amplitude(std::move(amplitude)), Frequency(std::move(frequency)), Phase(std::move(phase)) {}

double TSineModifier::GetValue(double t) const {
  if (!Amplitude || !Frequency || !Phase) return std::sin(kTwoPi * t);
  return Amplitude->GetValue(t) * std::sin(kTwoPi * Frequency->GetMean(t) * t + Phase->GetMean(t));
}

double TSineModifier::GetMean(double t) const {
  if (!Amplitude || !Frequency || !Phase) return -std::cos(kTwoPi * t);
  return -Amplitude->GetValue(t) * std::cos(kTwoPi * Frequency->GetMean(t) * t + Phase->GetMean(t));
}

double TSineModifier::GetMin(double a, double b) const {
  return -PeakOf(Amplitude, a, b);
}
double TSineModifier::GetMax(double a, double b) const {
  return PeakOf(Amplitude, a, b);
}

double TSineModifier::GetSampleRate(double a, double b) const {
  return TwentyPerPeriod(Frequency, a, b);
}

// ---- square

TSquareModifier::TSquareModifier(TModifierPtr amplitude, TModifierPtr frequency, TModifierPtr phase,
                                 TModifierPtr dutyCycle)
    : Amplitude(std::move(amplitude)),
      Frequency(std::move(frequency)),
      Phase(std::move(phase)),
      DutyCycle(std::move(dutyCycle)) {}

double TSquareModifier::GetValue(double t) const {
  const double a = ValueOr(Amplitude, t, 1.0);
  const double theta = kTwoPi * ValueOr(Frequency, t, 1.0) * t + ValueOr(Phase, t, 0.0);
  const double s1 = std::sin(theta);
  if (!DutyCycle) return s1 > -kSquareEpsilon ? a : -a;

  const double delta = (0.5 - DutyCycle->GetValue(t)) * 2.0 * kPi;
  const double s2 = std::sin(theta + delta);
  if (s1 > kSquareEpsilon) return (s2 > kSquareEpsilon || delta < -kSquareEpsilon) ? a : -a;
  if (s1 < -kSquareEpsilon) return (s2 < kSquareEpsilon || delta > kSquareEpsilon) ? -a : a;
  // On a half-period boundary: high on the rising edge.
  return (std::cos(theta) > kSquareEpsilon || delta <= -kSquareEpsilon) ? a : -a;
}

double TSquareModifier::GetMean(double) const {
  NoMean();
}
double TSquareModifier::GetMin(double a, double b) const {
  return -PeakOf(Amplitude, a, b);
}
double TSquareModifier::GetMax(double a, double b) const {
  return PeakOf(Amplitude, a, b);
}

double TSquareModifier::GetSampleRate(double a, double b) const {
  const double period = Frequency ? 1.0 / Frequency->GetMax(a, b) : 1.0;
  const double shortest =
      DutyCycle ? period * std::min(DutyCycle->GetMin(a, b), 1.0 - DutyCycle->GetMax(a, b))
                : period * 0.5;
  const double rate = 1.0 / shortest;
  return Amplitude ? std::max(rate, Amplitude->GetSampleRate(a, b)) : rate;
}

// ---- triangle

TTriangleModifier::TTriangleModifier(TModifierPtr amplitude, TModifierPtr frequency,
                                     TModifierPtr phase)
    : Amplitude(std::move(amplitude)), Frequency(std::move(frequency)), Phase(std::move(phase)) {}

double TTriangleModifier::GetValue(double t) const {
  const double theta = kTwoPi * ValueOr(Frequency, t, 1.0) * t + ValueOr(Phase, t, 0.0);
  return ValueOr(Amplitude, t, 1.0) * std::asin(std::sin(theta)) * 2.0 / kPi;
}

double TTriangleModifier::GetMean(double) const {
  NoMean();
}
double TTriangleModifier::GetMin(double a, double b) const {
  return -LopsidedPeakOf(Amplitude, a, b);
}
double TTriangleModifier::GetMax(double a, double b) const {
  return LopsidedPeakOf(Amplitude, a, b);
}
double TTriangleModifier::GetSampleRate(double a, double b) const {
  return TwentyPerPeriod(Frequency, a, b);
}

// ---- sawtooth

TSawtoothModifier::TSawtoothModifier(TModifierPtr amplitude, TModifierPtr frequency,
                                     TModifierPtr phase)
    : Amplitude(std::move(amplitude)), Frequency(std::move(frequency)), Phase(std::move(phase)) {}

double TSawtoothModifier::GetValue(double t) const {
  const double f = ValueOr(Frequency, t, 1.0);
  const double x = f * (t + 0.5 / f + ValueOr(Phase, t, 0.0) / (kTwoPi * f));
  const double frac = x - std::trunc(x);  // towards zero: negative for negative x
  return (frac - 0.5) * ValueOr(Amplitude, t, 1.0) * 2.0;
}

double TSawtoothModifier::GetMean(double) const {
  NoMean();
}
double TSawtoothModifier::GetMin(double a, double b) const {
  return -LopsidedPeakOf(Amplitude, a, b);
}
double TSawtoothModifier::GetMax(double a, double b) const {
  return LopsidedPeakOf(Amplitude, a, b);
}
double TSawtoothModifier::GetSampleRate(double a, double b) const {
  return TwentyPerPeriod(Frequency, a, b);
}

}  // namespace ondrevo
