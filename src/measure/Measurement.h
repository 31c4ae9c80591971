// Where measurements come from while a document plays, and the thread that polls them: the
// supply itself where its command set has a measurement query, or a bench meter on a line of its
// own. Every reading carries its time on a monotonic clock from the start of play.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace ondrevo {

class TInterface;

struct TReading {
  double Time = 0;  // s from the start of play, the middle of the exchange
  double Voltage = 0;
  double Current = 0;
  // s: half the exchange's length. The instrument took the reading somewhere within
  // Time +- Spread; a loaded host widens it, and a judge of the reading must allow for it.
  double Spread = 0;
};

class IMeasurementSource {
 public:
  virtual ~IMeasurementSource() = default;
  // Shown to the user: "the supply itself", "meter on /dev/pts/3".
  virtual std::string Name() const = 0;
  // One reading of both quantities; throws on a failed or unreadable exchange.
  virtual void Read(double& voltage, double& current) = 0;
};

// SCPI measurement queries on a line: the supply's own (it stays shared with the driver, each
// query one whole exchange between the driver's) or a meter's on its own transport.
class TScpiMeasurementSource : public IMeasurementSource {
 public:
  TScpiMeasurementSource(std::shared_ptr<TInterface> line, std::string name,
                         std::string voltageQuery, std::string currentQuery,
                         std::uint32_t timeoutMs = 1000);
  std::string Name() const override { return name_; }
  void Read(double& voltage, double& current) override;

 private:
  std::shared_ptr<TInterface> line_;
  std::string name_, voltageQuery_, currentQuery_;
  std::uint32_t timeoutMs_;
};

// The queries of the supply's own command set, when it has them: family C (SCPI) measures
// itself; families A and B have no measurement query and need a meter.
bool SupplyMeasuresItself(const std::string& model);
std::unique_ptr<IMeasurementSource> SupplyMeasurementSource(std::shared_ptr<TInterface> line);
// A bench meter answering MEAS:VOLT:DC? and MEAS:CURR:DC?.
std::unique_ptr<IMeasurementSource> MeterMeasurementSource(std::shared_ptr<TInterface> line,
                                                           std::string name);

// Polls a source on its own thread until stopped. Readings go into a list that other threads
// copy from; a failed reading is counted and its message kept, and polling goes on.
class TMeasurementPoller {
 public:
  TMeasurementPoller(std::shared_ptr<IMeasurementSource> source,
                     std::chrono::milliseconds interval);
  ~TMeasurementPoller();
  TMeasurementPoller(const TMeasurementPoller&) = delete;
  TMeasurementPoller& operator=(const TMeasurementPoller&) = delete;

  // Clears the readings and polls. Time 0 is what SetTimeBase gave, else now.
  void Start();
  // Time 0 is `zero` from now on, also for the readings taken so far (from any thread: the
  // driver reports when the instrument started, before or after polling began). The start
  // lies within `zero` +- `uncertainty` seconds.
  void SetTimeBase(std::chrono::steady_clock::time_point zero, double uncertainty = 0);
  double TimeBaseUncertainty() const;
  // How often SetTimeBase moved readings already taken: a view that copies them as they come
  // must copy them all again.
  std::size_t Rebases() const;
  // Returns once the thread has ended (at most one exchange later).
  void Stop();
  bool Running() const { return thread_.joinable(); }
  std::vector<TReading> Readings() const;
  // The readings from index `first` on: a view that follows the run copies only what is new.
  std::vector<TReading> ReadingsFrom(std::size_t first) const;
  std::size_t Count() const;
  std::size_t Failures() const;
  std::optional<std::string> LastError() const;
  // Seconds since Start on the poller's clock.
  double Elapsed() const;

 private:
  void Loop();

  std::shared_ptr<IMeasurementSource> source_;
  std::chrono::milliseconds interval_;
  mutable std::mutex lock_;
  std::chrono::steady_clock::time_point start_;
  bool baseGiven_ = false;
  double uncertainty_ = 0;
  std::size_t rebases_ = 0;
  std::condition_variable wake_;
  bool stop_ = false;
  std::vector<TReading> readings_;
  std::size_t failures_ = 0;
  std::optional<std::string> lastError_;
  std::thread thread_;
};

}  // namespace ondrevo
