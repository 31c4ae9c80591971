// Waveform functions of a segment's local time t (seconds since the segment began).
#pragma once

#include <memory>
#include <stdexcept>

namespace ondrevo {

inline constexpr double kTwoPi = 6.283185307179586;

// Raised by an operation a modifier does not define (the mean of square, triangle, sawtooth).
class EAbstractError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TModifier {
 public:
  virtual ~TModifier() = default;
  virtual double GetValue(double t) const = 0;
  // Mean over [0, t]; a swept frequency enters a chirp through it.
  virtual double GetMean(double t) const = 0;
  // Bounds of the value over [a, b], 0 <= a <= b.
  virtual double GetMin(double a, double b) const = 0;
  virtual double GetMax(double a, double b) const = 0;
  // Samples per second needed to reproduce the function over [a, b].
  virtual double GetSampleRate(double a, double b) const = 0;
  // The value is the same for every t (lets samplers skip held levels).
  virtual bool IsConstant() const { return false; }
};

using TModifierPtr = std::unique_ptr<TModifier>;

class TConstantModifier final : public TModifier {
 public:
  explicit TConstantModifier(double value) : Value(value) {}
  double GetValue(double) const override { return Value; }
  double GetMean(double) const override { return Value; }
  double GetMin(double, double) const override { return Value; }
  double GetMax(double, double) const override { return Value; }
  double GetSampleRate(double, double) const override { return 0.0; }
  bool IsConstant() const override { return true; }

  double Value;
};

// Left + Right; an absent child contributes 0.
class TAddModifier final : public TModifier {
 public:
  TAddModifier(TModifierPtr left, TModifierPtr right);
  double GetValue(double t) const override;
  double GetMean(double t) const override;
  double GetMin(double a, double b) const override;
  double GetMax(double a, double b) const override;
  double GetSampleRate(double a, double b) const override;
  bool IsConstant() const override;

  TModifierPtr Left, Right;
};

// t * Slope(t); an absent slope counts as 1.
class TGradientModifier final : public TModifier {
 public:
  explicit TGradientModifier(TModifierPtr slope);
  double GetValue(double t) const override;
  double GetMean(double t) const override;
  double GetMin(double a, double b) const override;
  double GetMax(double a, double b) const override;
  double GetSampleRate(double a, double b) const override;

  TModifierPtr Slope;
};

// Amplitude(t) * sin(2pi * mean frequency * t + mean phase): exact phase for a linear sweep.
class TSineModifier final : public TModifier {
 public:
  TSineModifier(TModifierPtr amplitude, TModifierPtr frequency, TModifierPtr phase);
  double GetValue(double t) const override;
  double GetMean(double t) const override;
  double GetMin(double a, double b) const override;
  double GetMax(double a, double b) const override;
  double GetSampleRate(double a, double b) const override;

  TModifierPtr Amplitude, Frequency, Phase;
};

// High for the first DutyCycle fraction of each period; momentary frequency and phase.
class TSquareModifier final : public TModifier {
 public:
  TSquareModifier(TModifierPtr amplitude, TModifierPtr frequency, TModifierPtr phase,
                  TModifierPtr dutyCycle);
  double GetValue(double t) const override;
  double GetMean(double t) const override;  // raises EAbstractError
  double GetMin(double a, double b) const override;
  double GetMax(double a, double b) const override;
  double GetSampleRate(double a, double b) const override;

  TModifierPtr Amplitude, Frequency, Phase, DutyCycle;
};

class TTriangleModifier final : public TModifier {
 public:
  TTriangleModifier(TModifierPtr amplitude, TModifierPtr frequency, TModifierPtr phase);
  double GetValue(double t) const override;
  double GetMean(double t) const override;  // raises EAbstractError
  double GetMin(double a, double b) const override;
  double GetMax(double a, double b) const override;
  double GetSampleRate(double a, double b) const override;

  TModifierPtr Amplitude, Frequency, Phase;
};

class TSawtoothModifier final : public TModifier {
 public:
  TSawtoothModifier(TModifierPtr amplitude, TModifierPtr frequency, TModifierPtr phase);
  double GetValue(double t) const override;
  double GetMean(double t) const override;  // raises EAbstractError
  double GetMin(double a, double b) const override;
  double GetMax(double a, double b) const override;
  double GetSampleRate(double a, double b) const override;

  TModifierPtr Amplitude, Frequency, Phase;
};

}  // namespace ondrevo
