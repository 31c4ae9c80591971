#include "sim/Ksv6140Sim.h"

#include <algorithm>
#include <stdexcept>

#include "devices/ModelTables.h"
#include "document/Numbers.h"
#include "sim/Text.h"

namespace ondrevo::sim {

TKsv6140Sim::TKsv6140Sim(std::string model, std::string serial, TSimClock clock,
                         std::string firmware)
    : TShortCommandSim(model, std::move(serial), std::move(firmware), MaxLineLength),
      clock_(std::move(clock)) {
  const ModelLimits limits = FamilyBLimits(CompactModel());
  if (limits.Unsupported) throw std::invalid_argument("Unknown family-B model \"" + model + "\".");
  maxVoltage_ = limits.MaxVoltage;
  maxCurrent_ = limits.MaxCurrent;
  if (!clock_) clock_ = MakeScaledClock(1.0);
  Reset();
}

void TKsv6140Sim::Reset() {
  registers_.fill(TRegister{0, 0, MinDwell});
  buffer_ = TRegister{0, 0, MinDwell};
  startAddress_ = endAddress_ = 0;
  autoStep_ = returnAtEnd_ = 0;
  repetitions_ = 1;
  sequenceMode_ = false;
  output_ = false;
  setVoltage_ = setCurrent_ = 0;
  run_ = TPointRun();
  holdingLast_ = false;
  stepLocation_ = 0;
  runFirst_ = 1;
  NoteLevel(clock_());
}

void TKsv6140Sim::NoteLevel(double time) const {
  TOutputState state;
  state.On = output_;
  state.Voltage = setVoltage_;
  state.CurrentLimit = setCurrent_;
  if (run_.InForce() || (holdingLast_ && run_.HasPoints())) {
    state.Voltage = run_.Point().Voltage;
    state.CurrentLimit = run_.Point().Current;
  } else if (stepLocation_ > 0) {
    state.Voltage = registers_[stepLocation_].Voltage;
    state.CurrentLimit = registers_[stepLocation_].Current;
  }
  Record().Note(time, 0, state);
}

void TKsv6140Sim::Update() const {
  UpdateTo(clock_());
}

void TKsv6140Sim::UpdateTo(double now) const {
  const double end =
      run_.Advance(now, [this](double time, int, const TRunPoint&) { NoteLevel(time); });
  if (end < 0) return;
  holdingLast_ = returnAtEnd_ == 0;
  NoteLevel(end);
}

void TKsv6140Sim::SettleOutput() {
  std::lock_guard lock(stateMutex_);
  Update();
}

void TKsv6140Sim::Trigger() {
  std::lock_guard lock(stateMutex_);
  Warn("trigger: the instrument has no trigger input");
}

int TKsv6140Sim::Address() const {
  if (stepLocation_ > 0) return stepLocation_;
  if (run_.Phase() == TPointRun::TPhase::Idle) return First();
  return runFirst_ + run_.Index();
}

bool TKsv6140Sim::Execute(const std::string& h, bool query, const std::vector<std::string>& params,
                          std::string& reply) {
  auto command = [&](std::size_t count) { Setting(query, params, count); };
  auto answer = [&](std::string text) { return Answer(query, reply, std::move(text)); };
  auto number = [](double value) { return FormatDecimals(value, 3); };
  const double now = clock_();
  UpdateTo(now);
  // Ends whatever holds the output: the next start begins at the start address.
  auto clearRun = [&] {
    run_.Clear();
    holdingLast_ = false;
    stepLocation_ = 0;
    NoteLevel(now);
  };

  if (h == "*LRN") {
    // Read back by the program at connect and sent again at disconnect, so it must parse here.
    Expect(params, 0);
    return answer("V " + number(setVoltage_) + ";C " + number(setCurrent_) + ";FREP " +
                  std::to_string(repetitions_) + ";FSEQ " + (sequenceMode_ ? "ON" : "OFF") +
                  ";EX " + (output_ ? "1" : "0"));
  }
  if (h == "OCR") return Expect(params, 0), answer(std::to_string(Playing() ? OcrRunning : 0));
  if (h == "V" || h == "C") {
    const double max = h == "V" ? maxVoltage_ : maxCurrent_;
    double& target = h == "V" ? setVoltage_ : setCurrent_;
    auto limit = [&](const std::string& text, double& value) {
      const std::string upper = Upper(text);
      if (upper == "MAX") return value = max, true;
      if (upper == "MIN") return value = 0, true;
      return false;
    };
    if (query) {
      if (params.size() > 1) Fail(ParameterError);
      double value = target;
      if (!params.empty() && !limit(params[0], value)) Fail(ParameterError);
      if (h == "V" && !params.empty() && Upper(params[0]) == "MAX" &&
          !instrumentFaults_.MaxVoltageReply.empty())
        return answer(instrumentFaults_.MaxVoltageReply);
      return answer(number(value));
    }
    command(1);
    double value = 0;
    if (!limit(params[0], value)) value = Value(params[0]);
    if (!InRange(value, 0, max)) Fail(RangeError);
    target = value;
    NoteLevel(now);
    return false;
  }
  if (h == "EX") {
    if (query) return Expect(params, 0), answer(output_ ? "1" : "0");
    command(1);
    output_ = Switch(params[0]);
    NoteLevel(now);
    return false;
  }
  if (h == "FSEQ") {
    if (query) return Expect(params, 0), answer(sequenceMode_ ? "1" : "0");
    command(1);
    sequenceMode_ = Switch(params[0]);
    if (!sequenceMode_) clearRun();
    return false;
  }
  if (h == "FREG") {
    command(3);
    RefuseListWrite();
    const TRegister value{Value(params[0]), Value(params[1]), Value(params[2])};
    if (!InRange(value.Voltage, 0, maxVoltage_) || !InRange(value.Current, 0, maxCurrent_) ||
        !InRange(value.Dwell, MinDwell, MaxDwell))
      Fail(RangeError);
    buffer_ = value;
    return false;
  }
  if (h == "FSTO") {
    command(1);
    registers_[Whole(params[0], 1, Locations)] = buffer_;
    return false;
  }
  if (h == "FAS" || h == "FAE" || h == "FAF" || h == "FAL" || h == "FREP") {
    const bool flag = h == "FAF" || h == "FAL";
    int& target = h == "FAS"   ? startAddress_
                  : h == "FAE" ? endAddress_
                  : h == "FAF" ? autoStep_
                  : h == "FAL" ? returnAtEnd_
                               : repetitions_;
    if (query) return Expect(params, 0), answer(std::to_string(target));
    command(1);
    target = Whole(params[0], 0, flag ? 1 : h == "FREP" ? MaxRepetitions : Locations);
    if ((h == "FAS" || h == "FAE") && target == 0)
      Warn(h + " 0: there is no location 0; the address is location 1");
    if (h == "FREP" && run_.InForce()) run_.SetCount(target);
    return false;
  }
  if (h == "FADR") return Expect(params, 0), answer(std::to_string(Address()));
  if (h == "FS") {
    command(0);
    if (!sequenceMode_) {
      Warn("FS: refused outside sequence mode (FSEQ OFF)");
      Fail(SequenceError);
    }
    if (run_.Phase() == TPointRun::TPhase::Paused) {
      run_.Resume(now);
      return false;
    }
    if (Playing()) {
      Warn("FS: a sequence runs already");
      return false;
    }
    if (Last() < First()) Fail(RangeError);
    holdingLast_ = false;
    if (autoStep_ == 0) {
      run_.Clear();
      stepLocation_ = stepLocation_ == 0 || stepLocation_ >= Last() ? First() : stepLocation_ + 1;
      NoteLevel(now);
      return false;
    }
    stepLocation_ = 0;
    runFirst_ = First();
    run_.Start(
        std::vector<TRunPoint>(registers_.begin() + First(), registers_.begin() + Last() + 1),
        repetitions_, now);
    UpdateTo(now);
    return false;
  }
  if (h == "FP") {
    command(0);
    if (StopIgnored()) return false;
    if (Playing())
      run_.Pause(now);
    else
      Warn("FP: nothing runs");
    return false;
  }
  if (h == "FCL") {
    command(0);
    if (StopIgnored()) return false;
    if (Playing()) {
      Warn("FCL: ignored while a sequence runs");
      return false;
    }
    clearRun();
    return false;
  }
  Fail(CommandError);
}

TKsv6140Sim::TRegister TKsv6140Sim::Register(int location) const {
  std::lock_guard lock(stateMutex_);
  if (location < 1 || location > Locations) throw std::out_of_range("location");
  return registers_[location];
}

int TKsv6140Sim::StartAddress() const {
  std::lock_guard lock(stateMutex_);
  return startAddress_;
}

int TKsv6140Sim::EndAddress() const {
  std::lock_guard lock(stateMutex_);
  return endAddress_;
}

int TKsv6140Sim::Repetitions() const {
  std::lock_guard lock(stateMutex_);
  return repetitions_;
}

bool TKsv6140Sim::Running() const {
  std::lock_guard lock(stateMutex_);
  Update();
  return Playing();
}

bool TKsv6140Sim::OutputOn() const {
  std::lock_guard lock(stateMutex_);
  return output_;
}

bool TKsv6140Sim::SequenceMode() const {
  std::lock_guard lock(stateMutex_);
  return sequenceMode_;
}

std::pair<double, double> TKsv6140Sim::SetValues() const {
  std::lock_guard lock(stateMutex_);
  return {setVoltage_, setCurrent_};
}

}  // namespace ondrevo::sim
