#include "sim/Ksv5200Sim.h"

#include <stdexcept>

#include "devices/ModelTables.h"
#include "document/Numbers.h"
#include "sim/Text.h"

namespace ondrevo::sim {

TKsv5200Sim::TKsv5200Sim(std::string model, std::string serial, TSimClock clock,
                         std::string firmware)
    : TShortCommandSim(model, std::move(serial), std::move(firmware), MaxLineLength),
      clock_(std::move(clock)) {
  const ModelLimits limits = FamilyALimits(CompactModel());
  if (limits.Unsupported) throw std::invalid_argument("Unknown family-A model \"" + model + "\".");
  maxVoltage_ = limits.MaxVoltage;
  maxCurrent_ = limits.MaxCurrent;
  if (!clock_) clock_ = MakeScaledClock(1.0);
  Reset();
}

void TKsv5200Sim::Reset() {
  points_.fill(TPoint{0, 0, 0.001});
  mode_ = 1;
  startAddress_ = endAddress_ = 0;
  repetitions_ = 1;
  externalTrigger_ = false;
  output_ = false;
  setVoltage_ = setCurrent_ = 0;
  armed_ = false;
  run_ = TPointRun();
  runFirst_ = 0;
  // *RST puts the output where a reset leaves it; the constructor notes the first state.
  if (clock_) NoteLevel(clock_());
}

void TKsv5200Sim::NoteLevel(double time) const {
  TOutputState state;
  state.On = output_;
  if (run_.InForce()) {
    state.Voltage = run_.Point().Voltage;
    state.CurrentLimit = run_.Point().Current;
  } else {
    state.Voltage = setVoltage_;
    state.CurrentLimit = setCurrent_;
  }
  Record().Note(time, 0, state);
}

void TKsv5200Sim::StartBurst(double now) {
  std::vector<TRunPoint> list(points_.begin() + startAddress_, points_.begin() + endAddress_ + 1);
  runFirst_ = startAddress_;
  armed_ = false;
  run_.Start(std::move(list), repetitions_, now);
  UpdateTo(now);
}

void TKsv5200Sim::Update() const {
  UpdateTo(clock_());
}

void TKsv5200Sim::UpdateTo(double now) const {
  const double end =
      run_.Advance(now, [this](double time, int, const TRunPoint&) { NoteLevel(time); });
  if (end < 0) return;
  // With the trigger input the run waits for the next edge at the start address.
  if (externalTrigger_) {
    armed_ = true;
    run_.Clear();
  }
  NoteLevel(end);
}

void TKsv5200Sim::SettleOutput() {
  std::lock_guard lock(stateMutex_);
  Update();
}

bool TKsv5200Sim::Busy() const {
  std::lock_guard lock(stateMutex_);
  Update();
  return armed_ || run_.Phase() == TPointRun::TPhase::Playing;
}

void TKsv5200Sim::Trigger() {
  std::lock_guard lock(stateMutex_);
  Update();
  if (!armed_) {
    Warn(externalTrigger_ ? "trigger: no run armed" : "trigger: the trigger input is off (ETR 0)");
    return;
  }
  ++triggers_;
  StartBurst(clock_());
}

int TKsv5200Sim::Address() const {
  if (armed_) return runFirst_;
  if (run_.Phase() == TPointRun::TPhase::Idle) return startAddress_;
  return runFirst_ + run_.Index();
}

bool TKsv5200Sim::Execute(const std::string& h, bool query, const std::vector<std::string>& params,
                          std::string& reply) {
  auto command = [&](std::size_t count) { Setting(query, params, count); };
  auto answer = [&](std::string text) { return Answer(query, reply, std::move(text)); };
  auto number = [](double value) { return FormatDecimals(value, 3); };
  auto integer = [](int value) { return std::to_string(value); };
  const double now = clock_();
  UpdateTo(now);
  const bool playing = run_.Phase() == TPointRun::TPhase::Playing;

  if (h == "*LRN") {
    // The program cuts "F <mode>;" out of this and sends the rest back at disconnect.
    Expect(params, 0);
    return answer("F " + integer(mode_) + ";V " + number(setVoltage_) + ";C " +
                  number(setCurrent_) + ";FB " + integer(repetitions_) + ";ETR " +
                  (externalTrigger_ ? "1" : "0") + ";EX " + (output_ ? "1" : "0"));
  }
  if (h == "F") {
    if (query) return Expect(params, 0), answer(integer(mode_));
    command(1);
    const int mode = Whole(params[0], 1, 3);
    if (mode != 3) armed_ = false, run_.Clear();
    mode_ = mode;
    NoteLevel(now);
    return false;
  }
  if (h == "V" || h == "C") {
    const double max = h == "V" ? maxVoltage_ : maxCurrent_;
    double& target = h == "V" ? setVoltage_ : setCurrent_;
    if (query) return Expect(params, 0), answer(number(target));
    command(1);
    const std::string upper = Upper(params[0]);
    const double value = upper == "MAX" ? max : upper == "MIN" ? 0 : Value(params[0]);
    if (!InRange(value, 0, max)) Fail(RangeError);
    target = value;
    NoteLevel(now);
    return false;
  }
  if (h == "EX" || h == "ETR") {
    bool& target = h == "EX" ? output_ : externalTrigger_;
    if (query) return Expect(params, 0), answer(target ? "1" : "0");
    command(1);
    target = Switch(params[0]);
    NoteLevel(now);
    return false;
  }
  if (h == "FDS") {
    command(4);
    RefuseListWrite();
    const int index = Whole(params[0], 0, Points - 1);
    const TPoint point{Value(params[1]), Value(params[2]), Value(params[3])};
    if (!InRange(point.Voltage, 0, maxVoltage_) || !InRange(point.Current, 0, maxCurrent_) ||
        !InRange(point.Dwell, MinDwell, MaxDwell))
      Fail(RangeError);
    points_[index] = point;
    return false;
  }
  if (h == "FAS" || h == "FAE" || h == "FB") {
    int& target = h == "FAS" ? startAddress_ : h == "FAE" ? endAddress_ : repetitions_;
    if (query) return Expect(params, 0), answer(integer(target));
    command(1);
    target = Whole(params[0], 0, h == "FB" ? MaxRepetitions : Points - 1);
    if (h == "FB" && run_.InForce()) run_.SetCount(target);
    return false;
  }
  if (h == "FAF") return Expect(params, 0), answer(integer(Address()));
  if (h == "FS") {
    command(0);
    if (mode_ != 3) Fail(ModeError);
    if (run_.Phase() == TPointRun::TPhase::Paused) {
      run_.Resume(now);
      return false;
    }
    if (playing || armed_) {
      Warn(std::string("FS: ") + (playing ? "a list plays already" : "the run is armed already"));
      return false;
    }
    if (endAddress_ < startAddress_) Fail(RangeError);
    if (externalTrigger_) {
      armed_ = true;
      runFirst_ = startAddress_;
      run_.Clear();
      NoteLevel(now);
    } else {
      StartBurst(now);
    }
    return false;
  }
  if (h == "FP") {
    command(0);
    if (StopIgnored()) return false;
    if (playing) {
      run_.Pause(now);
    } else if (armed_) {
      armed_ = false;
    } else {
      Warn("FP: nothing plays");
    }
    return false;
  }
  if (h == "FCL") {
    command(0);
    if (StopIgnored()) return false;
    if (playing) {
      Warn("FCL: ignored while a list plays");
      return false;
    }
    armed_ = false;
    run_.Clear();
    NoteLevel(now);
    return false;
  }
  Fail(CommandError);
}

TKsv5200Sim::TPoint TKsv5200Sim::Point(int index) const {
  std::lock_guard lock(stateMutex_);
  return points_.at(index);
}

int TKsv5200Sim::Mode() const {
  std::lock_guard lock(stateMutex_);
  return mode_;
}

int TKsv5200Sim::StartAddress() const {
  std::lock_guard lock(stateMutex_);
  return startAddress_;
}

int TKsv5200Sim::EndAddress() const {
  std::lock_guard lock(stateMutex_);
  return endAddress_;
}

bool TKsv5200Sim::Running() const {
  std::lock_guard lock(stateMutex_);
  Update();
  return run_.Phase() == TPointRun::TPhase::Playing;
}

bool TKsv5200Sim::OutputOn() const {
  std::lock_guard lock(stateMutex_);
  return output_;
}

std::pair<double, double> TKsv5200Sim::SetValues() const {
  std::lock_guard lock(stateMutex_);
  return {setVoltage_, setCurrent_};
}

int TKsv5200Sim::Triggers() const {
  std::lock_guard lock(stateMutex_);
  return triggers_;
}

}  // namespace ondrevo::sim
