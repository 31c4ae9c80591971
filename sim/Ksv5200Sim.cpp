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
  points_.fill(TPoint{});
  mode_ = 1;
  startAddress_ = endAddress_ = 0;
  repetitions_ = 1;
  externalTrigger_ = false;
  output_ = false;
  setVoltage_ = setCurrent_ = 0;
  active_ = playing_ = false;
  player_ = TListPlayer();
  runFirst_ = 0;
}

void TKsv5200Sim::StartBurst() {
  std::vector<double> dwells;
  for (int a = startAddress_; a <= endAddress_; ++a) dwells.push_back(points_[a].Dwell);
  runFirst_ = startAddress_;
  player_.Start(std::move(dwells), repetitions_, clock_());
  playing_ = true;
}

void TKsv5200Sim::Update() const {
  if (playing_ && !player_.Update(clock_())) {
    playing_ = false;
    // With the trigger input the run stays armed for the next burst, back at the start
    // address; without it the address stays on the last point.
    if (!externalTrigger_)
      active_ = false;
    else
      player_.Rewind();
  }
}

bool TKsv5200Sim::Busy() const {
  std::lock_guard lock(stateMutex_);
  Update();
  return active_;
}

void TKsv5200Sim::Trigger() {
  std::lock_guard lock(stateMutex_);
  Update();
  if (!active_ || playing_ || !externalTrigger_) return;
  ++triggers_;
  StartBurst();
}

bool TKsv5200Sim::Execute(const std::string& h, bool query, const std::vector<std::string>& params,
                          std::string& reply) {
  auto command = [&](std::size_t count) { Setting(query, params, count); };
  auto answer = [&](std::string text) { return Answer(query, reply, std::move(text)); };
  auto number = [](double value) { return FormatDecimals(value, 3); };
  auto integer = [](int value) { return std::to_string(value); };

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
    if (mode != 3) active_ = playing_ = false, player_.Stop();
    mode_ = mode;
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
    return false;
  }
  if (h == "EX" || h == "ETR") {
    bool& target = h == "EX" ? output_ : externalTrigger_;
    if (query) return Expect(params, 0), answer(target ? "1" : "0");
    command(1);
    target = Switch(params[0]);
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
    if (h == "FB" && playing_) player_.SetCount(target);
    return false;
  }
  if (h == "FAF") return Expect(params, 0), answer(integer(runFirst_ + player_.Offset()));
  if (h == "FS") {
    command(0);
    if (mode_ != 3) Fail(ModeError);
    if (endAddress_ < startAddress_) Fail(RangeError);
    if (active_) return false;
    active_ = true;
    if (!externalTrigger_) StartBurst();
    return false;
  }
  if (h == "FP") return command(0), player_.Stop(), active_ = playing_ = false, false;
  if (h == "FCL") {
    command(0);
    player_.Stop();
    active_ = playing_ = false;
    runFirst_ = startAddress_;
    player_.Rewind();
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
  return playing_;
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
