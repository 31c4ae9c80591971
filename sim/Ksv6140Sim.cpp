#include "sim/Ksv6140Sim.h"

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
  registers_.fill(TRegister{});
  buffer_ = TRegister{};
  startAddress_ = endAddress_ = firstFlag_ = lastFlag_ = 0;
  repetitions_ = 1;
  sequenceMode_ = false;
  output_ = false;
  setVoltage_ = setCurrent_ = 0;
  running_ = false;
  player_ = TListPlayer();
  runFirst_ = 1;
}

void TKsv6140Sim::Update() const {
  if (running_ && !player_.Update(clock_())) running_ = false;
}

int TKsv6140Sim::Address() const {
  return runFirst_ + player_.Offset();
}

bool TKsv6140Sim::Execute(const std::string& h, bool query, const std::vector<std::string>& params,
                          std::string& reply) {
  auto command = [&](std::size_t count) { Setting(query, params, count); };
  auto answer = [&](std::string text) { return Answer(query, reply, std::move(text)); };
  auto number = [](double value) { return FormatDecimals(value, 3); };

  if (h == "*LRN") {
    // Read back by the program at connect and sent again at disconnect, so it must parse here.
    Expect(params, 0);
    return answer("V " + number(setVoltage_) + ";C " + number(setCurrent_) + ";FREP " +
                  std::to_string(repetitions_) + ";FSEQ " + (sequenceMode_ ? "ON" : "OFF") +
                  ";EX " + (output_ ? "1" : "0"));
  }
  if (h == "OCR") return Expect(params, 0), answer(std::to_string(running_ ? OcrRunning : 0));
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
    return false;
  }
  if (h == "EX") {
    if (query) return Expect(params, 0), answer(output_ ? "1" : "0");
    command(1);
    output_ = Switch(params[0]);
    return false;
  }
  if (h == "FSEQ") {
    if (query) return Expect(params, 0), answer(sequenceMode_ ? "1" : "0");
    command(1);
    sequenceMode_ = Switch(params[0]);
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
    int& target = h == "FAS"   ? startAddress_
                  : h == "FAE" ? endAddress_
                  : h == "FAF" ? firstFlag_
                  : h == "FAL" ? lastFlag_
                               : repetitions_;
    if (query) return Expect(params, 0), answer(std::to_string(target));
    command(1);
    target = Whole(params[0], 0, h == "FREP" ? MaxRepetitions : Locations);
    if (h == "FREP" && running_) player_.SetCount(target);
    return false;
  }
  if (h == "FADR") return Expect(params, 0), answer(std::to_string(Address()));
  if (h == "FS") {
    command(0);
    // Address 0 stands for the first location.
    const int first = std::max(1, startAddress_);
    if (endAddress_ < first) Fail(RangeError);
    std::vector<double> dwells;
    for (int a = first; a <= endAddress_; ++a) dwells.push_back(registers_[a].Dwell);
    runFirst_ = first;
    player_.Start(std::move(dwells), repetitions_, clock_());
    running_ = true;
    return false;
  }
  if (h == "FP") return command(0), player_.Stop(), running_ = false, false;
  if (h == "FCL") {
    command(0);
    player_.Stop();
    running_ = false;
    runFirst_ = std::max(1, startAddress_);
    player_.Rewind();
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
  return running_;
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
