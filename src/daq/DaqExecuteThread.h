// The streaming engine of an analog output card: the card plays one second of samples while the
// next second is computed, interleaved over one sampling thread per processor.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "daq/DaqMxLibrary.h"
#include "model/Samplers.h"

namespace ondrevo {

// The engine's choice of rate, shared with whoever shows the stream before it runs: half the
// computing speed the probe measured, at most the card's maximum.
double ChooseDaqRate(double maxRate, double probeMilliseconds);
// Sampling threads for `processors` (0: one per processor).
int DaqSamplingThreads(int processors);

// Counts the sampling threads that have not finished the current fill.
class TPendingCounter {
 public:
  void Set(int n);
  void Done();
  void Wait();  // until the count is 0

 private:
  std::mutex lock_;
  std::condition_variable zero_;
  int pending_ = 0;
};

// Fills positions index, index + stride, ... of a buffer; one fill per Run, on its own thread.
class TDaqSampleThread {
 public:
  TDaqSampleThread(TWaveform* waveform, double scale, int stride, int index,
                   TPendingCounter& pending);
  ~TDaqSampleThread();  // terminates and joins
  TDaqSampleThread(const TDaqSampleThread&) = delete;
  TDaqSampleThread& operator=(const TDaqSampleThread&) = delete;

  // Back to the waveform's start with this sample interval, at the next Run.
  void Restart(double interval);
  // Fills `buffer`, then counts itself done; the buffer must stay until then.
  void Run(TDoubleVector* buffer);

  // Results of the last fill, read once the pending count is 0.
  std::uint32_t Restarts = 0;
  TIntegerVector RestartPositions;
  std::exception_ptr Error;

 private:
  void Loop();

  TEquidistantSampler sampler_;
  int stride_, index_;
  TPendingCounter& pending_;
  std::mutex lock_;
  std::condition_variable wake_;
  TDoubleVector* target_ = nullptr;
  double restartInterval_ = 0.0;
  bool terminate_ = false;
  std::thread thread_;
};

// The engine's probe of `waveform` on fresh sampling threads: the milliseconds they take for
// its samples, for ChooseDaqRate.
double ProbeDaqWaveform(TWaveform& waveform, double scale, int processors);

// Handlers run on the main thread (TMainThread::Synchronize).
struct TDaqEngineEvents {
  std::function<void(const std::exception&)> OnError;
  std::function<void()> OnPrepared, OnStarted, OnStopped, OnTriggered, OnEnded;
  // Unlike the others on the engine's thread, at once: the task started without waiting for a
  // trigger.
  std::function<void()> OnOutputStarted;
};

class TDaqExecuteThread : public std::enable_shared_from_this<TDaqExecuteThread> {
 public:
  struct TConfig {
    std::shared_ptr<TDaqTask> Task;
    double MaxRate = 1000.0;
    double Scale = 1.0;
    std::shared_ptr<TWaveform> Waveform;
    std::vector<std::string> ChannelNames;
    bool EnableOutput = false;
    int Processors = 0;  // sampling threads; 0: one per processor
    // A stream on the same task that was told to end: this one starts after it has ended.
    std::shared_ptr<TDaqExecuteThread> Predecessor;
  };

  // Created suspended; the thread keeps itself alive until it ends.
  static std::shared_ptr<TDaqExecuteThread> Create(TConfig config, TDaqEngineEvents events);
  ~TDaqExecuteThread();

  // Main-thread controls.
  void Resume();
  void SetTriggerWait(bool wait);
  void SetBurstCount(std::uint32_t count);  // 0: endless; applies from the next preparation
  std::uint32_t GetBurstCount() const;
  void RequestStop();
  void Terminate();  // resumes a suspended thread
  // From the trigger callback (any thread): the trigger edge arrived.
  void MarkTriggered();
  // No more notifications: the device is gone.
  void DetachEvents();
  // Hands a notification to the main thread (used by the trigger callback too).
  void Notify(const std::function<void(const TDaqEngineEvents&)>& fn);

  // The burst whose samples the card puts out now (0 before the run's first sample is out).
  // Counted from what the card has generated, not from what was written: a write runs up to
  // two buffers ahead of the output. Any thread; once a run has ended, its last burst.
  std::int32_t PlayingBurst();

  // Blocks until the thread has ended (never call it on the main thread while the thread may
  // still hand a notification over).
  void WaitEnded();
  bool Ended();

  // The rate the probe chose (0 before) and the samples of one buffer.
  double Rate() const { return rate_.load(); }
  // What the probe measured, from which the rate was chosen.
  double ProbeMilliseconds() const { return probeMs_.load(); }
  std::uint32_t BufferLength() const { return bufferLength_.load(); }

  // A write that keeps timing out ends the run after this many attempts.
  static constexpr int kMaxWriteAttempts = 4;

 private:
  TDaqExecuteThread(TConfig config, TDaqEngineEvents events);
  void Run();
  void Prepare();
  void Cycle();
  void Fill(TDoubleVector& buffer, bool restart, bool wait = true);
  void FinishFill();
  void EndCheck(TDoubleVector& buffer);
  void Write(const TDoubleVector& buffer, bool autoStart);
  void WriteWithRetry(const TDoubleVector& buffer);
  // Burst starts: the restarts of a filled buffer, placed on the run's sample count as the
  // buffer is written.
  std::vector<std::int64_t>& StartsOf(const TDoubleVector& buffer);
  void BeginRunBursts();
  void NoteWritten(const TDoubleVector& buffer);
  void EndRunBursts(bool allOut);
  std::uint64_t GeneratedLocked();
  void AdvanceBurstsLocked(std::uint64_t generated);
  void LeaveAtZero();
  bool Suspend();  // false when terminating
  bool Terminating();
  bool StopRequested();
  void WaitFor(const std::function<bool()>& done, std::chrono::milliseconds step);
  void Pause(std::chrono::milliseconds time);  // cut short by Stop or termination

  TConfig config_;
  std::shared_ptr<TDaqMxLibrary> lib_;
  TDaqEngineEvents events_;
  std::atomic<bool> detached_{false};

  // Controls, guarded by ctl_.
  mutable std::mutex ctl_;
  std::condition_variable wake_;
  bool resumed_ = false, terminate_ = false, stopRequest_ = false, triggerWait_ = false,
       triggered_ = false;
  std::uint32_t requestedBurstCount_ = 1;

  // State of the thread itself.
  std::vector<std::unique_ptr<TDaqSampleThread>> samplers_;
  TPendingCounter pending_;
  TDoubleVector bufferA_, bufferB_;
  TDoubleVector* fill_ = &bufferA_;
  TDoubleVector* write_ = &bufferB_;
  TDoubleVector channelCopy_;
  double timeout_ = 1.3;
  std::uint32_t burstCount_ = 1, remaining_ = 1, preparedFor_ = 1;
  std::uint32_t maxRestarts_ = 0;
  std::vector<std::int64_t> startsA_, startsB_;  // restart positions of each buffer's fill
  double validMs_ = 1000.0;
  double hold_ = 0.0;
  std::mutex endLock_;
  std::condition_variable endChanged_;
  bool ended_ = false;
  std::atomic<double> rate_{0.0};
  std::atomic<double> probeMs_{0.0};
  std::atomic<std::uint32_t> bufferLength_{0};

  // Where the bursts of the current run begin, in samples since its start; guarded by burstLock_.
  std::mutex burstLock_;
  TDaqTaskHandle taskHandle_ = nullptr;
  std::deque<std::pair<std::uint64_t, std::int32_t>> burstStarts_;
  std::uint64_t writtenTotal_ = 0;
  std::int32_t nextBurst_ = 1, playing_ = 0;
  bool runActive_ = false;
};

}  // namespace ondrevo
