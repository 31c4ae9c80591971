// What the supply families with a point memory share: the nine player events, the upload
// thread (sampling, whole-percent progress, cancel), the running-state thread, and a disconnect
// that waits for a running upload. A family supplies its commands through the hooks below.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "devices/Device.h"
#include "devices/Interface.h"
#include "devices/ModelTables.h"
#include "devices/PlayerEvents.h"
#include "model/ListSampling.h"

namespace ondrevo {

class TListPlayerDevice : public TDevice, public TPlayerEvents, public IStartTimeReporter {
 public:
  // IStartTimeReporter
  void SetOnStartSent(TStartSentEvent handler) override;

  // IRemoteControllable
  void Disconnect() override;
  bool IsConnected() const override { return Connected; }
  std::shared_ptr<TInterface> GetInterface() const override { return Transport; }
  int32_t GetMaxCommandLength() const override { return MaxCommandLength; }

  // IWaveformPlayer
  void Upload(std::shared_ptr<TWaveform> voltage, std::shared_ptr<TWaveform> current,
              bool enableOutput) override;
  void CancelUpload() override;
  double GetMinDwellTime() const override { return MinDwellTime; }
  double GetMaxDwellTime() const override { return MaxDwellTime; }
  int32_t GetMaxPoints() const override { return MaxPoints; }
  int32_t GetMaxBurstCount() const override { return MaxBurstCount; }
  double GetVoltageResolution() const override { return VoltageResolution; }
  double GetCurrentResolution() const override { return CurrentResolution; }

  // Limits, resolutions, dwell times and budget an upload samples with now.
  SupplyListSettings ListSettings() const;
  // Point range of the last upload.
  int32_t GetFirstIndex() const { return FirstIndex; }
  int32_t GetLastIndex() const { return LastIndex; }
  bool IsUploading() const { return UploadThread != nullptr; }
  // True while an upload or running-state thread of this device has not ended.
  bool HasRunningThreads() const { return activeThreads_->load() > 0; }
  // Time allowed for each reply (3000 ms); shorter in tests.
  void SetReplyTimeout(uint32_t ms) { replyTimeoutMs_ = ms; }

 protected:
  // Lines the upload thread writes through; progress goes out on whole-percent changes only.
  class TUploadJob {
   public:
    virtual ~TUploadJob() = default;
    virtual void Send(const std::string& command) = 0;
    virtual std::string Query(const std::string& command) = 0;
    // Query in two steps: what runs in between (building the next line) overlaps the time the
    // instrument takes for this one. Nothing else may be sent before the reply is read.
    virtual void SendQuery(const std::string& command) = 0;
    virtual std::string AwaitReply() = 0;
    virtual bool Terminated() const = 0;
    virtual void SetProgress(double fraction) = 0;
    int32_t FirstIndex = 0;
    int32_t LastIndex = 0;
  };

  // What the running-state thread polls with; events reach the main thread at once.
  class TPollJob {
   public:
    virtual ~TPollJob() = default;
    virtual std::string Query(const std::string& command) = 0;
    virtual bool IsBusy() = 0;
    virtual void ReportProgress(double fraction) = 0;
    virtual void ReportRepetition(int32_t repetition) = 0;
    int32_t FirstIndex = 0;
    int32_t LastIndex = 0;
    int32_t Repetition = 1;
    int32_t LastAddress = 0;  // for families that count wrap-arounds
    // Offsets of the points from the list's start, s, one more than points (the end).
    std::vector<double> PointStarts;
  };

  TListPlayerDevice(const std::string& model, std::shared_ptr<TInterface> transport,
                    const std::string& serialNumber, DeviceFamily family);

  // Upload thread, once the points are sampled and the upload was not cancelled.
  virtual void WritePoints(TUploadJob& job, const std::vector<double>& dwell,
                           const std::vector<double>& voltage,
                           const std::vector<double>& current) = 0;
  // Upload thread, after WritePoints or a cancelled sampling.
  virtual void FinishUpload(TUploadJob& /*job*/) {}
  // Main thread, when the upload has ended without error: takes the range, fires OnUploadDone.
  virtual void UploadDone(int32_t firstIndex, int32_t lastIndex);

  // Running-state thread, every 100 ms: true while the instrument still plays.
  virtual bool PollRunning(TPollJob& job) = 0;
  // Main thread.
  virtual void PlayProgress(double fraction);
  virtual void PlayRepetition(int32_t repetition);
  virtual void PlayFinished();

  // Disconnect: leaves the instrument (own failures swallowed); the base then closes the port.
  virtual void ReleaseInstrument() = 0;

  void StartRunningThread();
  // Sends the lines, the last of which starts the list, and reports that start when `report`.
  template <std::size_t N>
  void SendStart(const char* const (&lines)[N], bool report = true) {
    for (std::size_t k = 0; k + 1 < N; ++k) Transport->Send(lines[k]);
    const auto before = std::chrono::steady_clock::now();
    Transport->Send(lines[N - 1]);
    const auto after = std::chrono::steady_clock::now();
    // A real instrument starts once it has the line, after this; an instrument that acts while
    // the line is handed over (a stand-in library calling it) may have started before.
    if (report) ReportStartSent(after, after - before);
  }
  // Any thread: the start of the output went out at `at` (or, for a triggered run, is estimated
  // to lie within `at` +- `uncertainty`).
  void ReportStartSent(std::chrono::steady_clock::time_point at,
                       std::chrono::steady_clock::duration uncertainty = {});
  void CloseConnection(bool notify);
  std::string Query(const std::string& command);
  void ReportError(const std::exception& e);
  void ConnectDone();
  uint32_t ReplyTimeout() const { return replyTimeoutMs_.load(); }

  bool Connected = false;
  std::shared_ptr<TInterface> Transport;
  int32_t MaxCommandLength = 0;
  double MinDwellTime = 0.0;
  double MaxDwellTime = 0.0;
  int32_t MaxPoints = 0;
  int32_t MaxBurstCount = 0;
  double VoltageResolution = 0.0;
  double CurrentResolution = 0.0;
  bool DisconnectPending = false;
  int32_t FirstIndex = 0;
  int32_t LastIndex = 0;
  // Of the last upload: see TPollJob::PointStarts.
  std::vector<double> PointStarts;

 private:
  class TUploadThread;
  class TCheckRunningThread;
  friend class TUploadThread;
  friend class TCheckRunningThread;

  std::shared_ptr<TUploadThread> UploadThread;
  std::atomic<uint32_t> replyTimeoutMs_{3000};
  TStartSentSlot startSent_;
  // Changes with every disconnect: a poll that fails because of it is no device error.
  std::atomic<int> connection_{0};
  std::shared_ptr<std::atomic<int>> activeThreads_ = std::make_shared<std::atomic<int>>(0);
};

// Whole percent of a fraction, halves to even.
int32_t ProgressPercent(double fraction);

}  // namespace ondrevo
