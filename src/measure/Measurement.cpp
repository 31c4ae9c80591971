#include "measure/Measurement.h"

#include <cmath>
#include <stdexcept>

#include "devices/Interface.h"
#include "document/Numbers.h"
#include "document/Text.h"
#include "document/Translate.h"

namespace ondrevo {

namespace {

double ParseReading(const std::string& reply, const std::string& query) {
  double value = 0;
  if (!TryParseNumber(reply, value) || !std::isfinite(value))
    throw std::runtime_error(query + ": " + _("no number in the reply") + " \"" +
                             ShowForeign(reply) + "\"");
  return value;
}

}  // namespace

TScpiMeasurementSource::TScpiMeasurementSource(std::shared_ptr<TInterface> line, std::string name,
                                               std::string voltageQuery, std::string currentQuery,
                                               std::uint32_t timeoutMs)
    : line_(std::move(line)),
      name_(std::move(name)),
      voltageQuery_(std::move(voltageQuery)),
      currentQuery_(std::move(currentQuery)),
      timeoutMs_(timeoutMs) {}

void TScpiMeasurementSource::Read(double& voltage, double& current) {
  // Two exchanges, not one held line: a stop of the driver goes out between them.
  voltage = ParseReading(line_->Query(voltageQuery_, timeoutMs_), voltageQuery_);
  current = ParseReading(line_->Query(currentQuery_, timeoutMs_), currentQuery_);
}

bool SupplyMeasuresItself(const std::string& model) {
  std::string compact;
  for (char c : model)
    if (c != ' ') compact += c;
  return compact.rfind("KSV73", 0) == 0;
}

std::unique_ptr<IMeasurementSource> SupplyMeasurementSource(std::shared_ptr<TInterface> line) {
  return std::make_unique<TScpiMeasurementSource>(std::move(line), _("the supply itself"),
                                                  "MEAS:VOLT?", "MEAS:CURR?");
}

std::unique_ptr<IMeasurementSource> MeterMeasurementSource(std::shared_ptr<TInterface> line,
                                                           std::string name) {
  return std::make_unique<TScpiMeasurementSource>(std::move(line), std::move(name), "MEAS:VOLT:DC?",
                                                  "MEAS:CURR:DC?");
}

TMeasurementPoller::TMeasurementPoller(std::shared_ptr<IMeasurementSource> source,
                                       std::chrono::milliseconds interval)
    : source_(std::move(source)), interval_(interval) {}

TMeasurementPoller::~TMeasurementPoller() {
  Stop();
}

void TMeasurementPoller::Start() {
  Stop();
  {
    std::lock_guard guard(lock_);
    stop_ = false;
    readings_.clear();
    failures_ = 0;
    lastError_.reset();
    if (!baseGiven_) start_ = std::chrono::steady_clock::now();
  }
  thread_ = std::thread([this] { Loop(); });
}

void TMeasurementPoller::Stop() {
  {
    std::lock_guard guard(lock_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void TMeasurementPoller::SetTimeBase(std::chrono::steady_clock::time_point zero,
                                     double uncertainty) {
  std::lock_guard guard(lock_);
  baseGiven_ = true;
  uncertainty_ = uncertainty;
  const double shift = std::chrono::duration<double>(zero - start_).count();
  start_ = zero;
  if (readings_.empty()) return;
  for (TReading& r : readings_) r.Time -= shift;
  ++rebases_;
}

double TMeasurementPoller::TimeBaseUncertainty() const {
  std::lock_guard guard(lock_);
  return uncertainty_;
}

std::size_t TMeasurementPoller::Rebases() const {
  std::lock_guard guard(lock_);
  return rebases_;
}

double TMeasurementPoller::Elapsed() const {
  std::lock_guard guard(lock_);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void TMeasurementPoller::Loop() {
  for (;;) {
    const auto before = std::chrono::steady_clock::now();
    TReading r;
    std::optional<std::string> error;
    try {
      source_->Read(r.Voltage, r.Current);
    } catch (const std::exception& e) {
      error = e.what();
    }
    const auto after = std::chrono::steady_clock::now();
    std::unique_lock guard(lock_);
    r.Time = std::chrono::duration<double>(before - start_ + (after - before) / 2).count();
    r.Spread = std::chrono::duration<double>(after - before).count() / 2;
    if (error) {
      ++failures_;
      lastError_ = error;
    } else {
      readings_.push_back(r);
    }
    if (wake_.wait_until(guard, before + interval_, [this] { return stop_; })) return;
  }
}

std::vector<TReading> TMeasurementPoller::Readings() const {
  std::lock_guard guard(lock_);
  return readings_;
}

std::vector<TReading> TMeasurementPoller::ReadingsFrom(std::size_t first) const {
  std::lock_guard guard(lock_);
  if (first >= readings_.size()) return {};
  return {readings_.begin() + static_cast<std::ptrdiff_t>(first), readings_.end()};
}

std::size_t TMeasurementPoller::Count() const {
  std::lock_guard guard(lock_);
  return readings_.size();
}

std::size_t TMeasurementPoller::Failures() const {
  std::lock_guard guard(lock_);
  return failures_;
}

std::optional<std::string> TMeasurementPoller::LastError() const {
  std::lock_guard guard(lock_);
  return lastError_;
}

}  // namespace ondrevo
