#include "sim/Instrument.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <stdexcept>

#include "sim/Ksv5200Sim.h"
#include "sim/Ksv6140Sim.h"
#include "sim/Ksv7340Sim.h"

namespace ondrevo::sim {

TSimClock MakeScaledClock(double speed) {
  if (!(speed > 0)) throw std::invalid_argument("The speed must be greater than 0.");
  const auto start = std::chrono::steady_clock::now();
  return [start, speed] {
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    return elapsed.count() * speed;
  };
}

double TManualClock::Now() const {
  std::lock_guard lock(mutex_);
  return now_;
}

void TManualClock::Advance(double seconds) {
  std::lock_guard lock(mutex_);
  now_ += seconds;
}

void TManualClock::Set(double seconds) {
  std::lock_guard lock(mutex_);
  now_ = seconds;
}

TSimClock TManualClock::Function() {
  return [this] { return Now(); };
}

TSimInstrument::TSimInstrument(std::string_view model, std::string serial, std::string firmware)
    : serial_(std::move(serial)), firmware_(std::move(firmware)) {
  for (char c : model)
    if (!std::isspace(static_cast<unsigned char>(c))) model_ += c;
}

std::string TSimInstrument::IdentificationReply() const {
  return "KESTRAVO," + model_ + "," + serial_ + "," + firmware_;
}

std::string TSimInstrument::Model() const {
  if (model_.rfind("KSV", 0) == 0 && model_.size() > 3) return "KSV " + model_.substr(3);
  return model_;
}

std::optional<std::string> TSimInstrument::HandleLine(std::string_view line) {
  std::function<void(const std::string&)> listener;
  {
    std::lock_guard lock(logMutex_);
    received_.emplace_back(line);
    listener = listener_;
  }
  if (listener) listener(std::string(line));
  std::lock_guard lock(stateMutex_);
  return Process(line);
}

std::vector<std::string> TSimInstrument::ReceivedLines() const {
  std::lock_guard lock(logMutex_);
  return received_;
}

void TSimInstrument::ClearReceivedLines() {
  std::lock_guard lock(logMutex_);
  received_.clear();
}

void TSimInstrument::SetInstrumentFaults(TSimInstrumentFaults faults) {
  std::lock_guard lock(stateMutex_);
  instrumentFaults_ = std::move(faults);
}

void TSimInstrument::SetLoad(const TLoad& load) {
  std::lock_guard lock(loadMutex_);
  load_ = load;
}

TLoad TSimInstrument::Load() const {
  std::lock_guard lock(loadMutex_);
  return load_;
}

void TSimInstrument::SetLineListener(std::function<void(const std::string&)> listener) {
  std::lock_guard lock(logMutex_);
  listener_ = std::move(listener);
}

std::shared_ptr<TSimInstrument> CreateSimInstrument(const std::string& model,
                                                    const std::string& serial, TSimClock clock) {
  if (model.find("734") != std::string::npos)
    return std::make_shared<TKsv7340Sim>(model, serial, std::move(clock));
  if (model.find("614") != std::string::npos)
    return std::make_shared<TKsv6140Sim>(model, serial, std::move(clock));
  if (model.find("52") != std::string::npos)
    return std::make_shared<TKsv5200Sim>(model, serial, std::move(clock));
  throw std::invalid_argument("No simulated instrument speaks the model \"" + model + "\".");
}

}  // namespace ondrevo::sim
