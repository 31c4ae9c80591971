// An analog output card that plays a waveform by streaming computed samples, as the control
// voltage of the devices wired to its outputs; and the scanner that lists the cards.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "daq/DaqExecuteThread.h"
#include "daq/DaqMxLibrary.h"
#include "daq/ProgressTimer.h"
#include "devices/Device.h"
#include "devices/Interface.h"
#include "devices/PlayerEvents.h"

namespace ondrevo {

// The shortest dwell of a card: one sample at its highest output rate; DAQCard E products are
// slower. The engine streams at most at its inverse.
double CardMinDwellTime(const std::string& productType, double aoMaxRate);

// A card as the library lists it, with the highest rate the engine streams it at.
struct TDaqCardInfo {
  std::string Name;
  std::string ProductType;
  double MaxStreamRate = 0.0;
};
// The first card the library lists; none without the library or a card.
std::optional<TDaqCardInfo> FirstDaqCard();

// The rate the engine would stream at on `card` (none: only the computing speed limits it) after
// its probe measured `probeMilliseconds` (ProbeDaqWaveform).
struct TDaqRateChoice {
  double Rate = 0.0;
  bool CardLimited = false;  // the card's maximum, not the computing speed, set the rate
};
TDaqRateChoice ChooseStreamRate(double probeMilliseconds, const std::optional<TDaqCardInfo>& card);

// Owned through std::shared_ptr (its streaming thread reports back through a weak reference).
class TDaqMxDevice : public TDevice,
                     public TPlayerEvents,
                     public ITriggerablePlayer,
                     public IAnalogOutput,
                     public IStartTimeReporter {
 public:
  // IStartTimeReporter: the output task started, or the trigger edge's callback came.
  void SetOnStartSent(TStartSentEvent handler) override { StartSent->Set(std::move(handler)); }

  TDaqMxDevice(const std::string& productType, const std::string& cardName,
               const std::string& serialNumber);
  ~TDaqMxDevice() override;

  // IRemoteControllable
  void Connect() override;
  void Disconnect() override;
  bool IsConnected() const override { return Connected; }
  std::shared_ptr<TInterface> GetInterface() const override { return nullptr; }
  int32_t GetMaxCommandLength() const override { return 0; }

  // IWaveformPlayer
  void Upload(std::shared_ptr<TWaveform> voltage, std::shared_ptr<TWaveform> current,
              bool enableOutput) override;
  void CancelUpload() override;
  void Play() override;
  void Pause() override;
  void Stop() override;
  void SetBurstCount(int32_t count) override;
  int32_t GetBurstCount() override;
  double GetMinDwellTime() const override { return MinDwellTime; }
  double GetMaxDwellTime() const override { return MaxDwellTime; }
  int32_t GetMaxPoints() const override { return MaxPoints; }
  int32_t GetMaxBurstCount() const override { return 1000000; }
  double GetVoltageResolution() const override { return 0.0; }
  double GetCurrentResolution() const override { return 0.0; }

  // ITriggerablePlayer
  void SetExternalTrigger(bool enabled) override { ExternalTrigger = enabled; }
  void SetTriggerChannel(int32_t index) override;
  void SetTriggerOnFallingEdge(bool value) override { TriggerOnFallingEdge = value; }
  void SetOnTrigger(TDeviceNotifyEvent h) override { OnTrigger = std::move(h); }
  bool GetExternalTrigger() const override { return ExternalTrigger; }
  int32_t GetTriggerChannelCount() const override;
  void GetTriggerTypes(TTriggerTypes& types) const override;
  void GetTriggerChannelName(int32_t index, std::string& name) const override;
  TDeviceNotifyEvent GetOnTrigger() const override { return OnTrigger; }
  bool IsExternalTriggerAvailable() const override { return TriggerAvailable; }

  // IAnalogOutput
  void SetOutputEnabled(bool enabled, int32_t channel) override;
  void SetOutputFlag(bool value, int32_t channel) override;
  bool GetOutputFlag(int32_t channel) const override;
  void SetValues(double voltage, double current) override;
  void GetValues(double& voltage, double& current) override;
  TAnalogInputArray& GetConnectedInputs() override { return ConnectedInputs; }
  bool IsOutputEnabled(int32_t channel) override;

  const std::string& GetCardName() const { return CardName; }
  const std::vector<std::string>& GetOutputChannels() const { return OutputChannels; }
  const std::string& GetTriggerLine() const { return TriggerLine; }
  // The command log: the calls into the library, for the Commands page and --trace.
  const std::shared_ptr<TDaqTrace>& GetTrace() const { return Trace; }
  // The streaming thread of the last upload while it runs (its rate and buffer length).
  std::shared_ptr<TDaqExecuteThread> GetExecuteThread() const { return ExecuteThread; }
  // Whether the library is the simulated one, whose trigger input can be fired from here.
  bool IsSimulated() const;
  // An edge on the selected trigger line, the selected way round (simulated library only).
  void FireSimulatedTrigger();
  // Sampling threads of the next upload; 0: one per processor.
  void SetProcessors(int n) { Processors = n; }

 private:
  struct TTriggerCookie;
  static TDaqMxLibrary::int32 TriggerCallback(TDaqTaskHandle task, TDaqMxLibrary::int32 signal,
                                              void* data);
  void ClearTriggerTask();
  void ProgressTick();
  // Raises OnBurst when the card has begun another burst; whether it did.
  bool ReportBurst();
  bool IsCurrent(const TDaqExecuteThread* thread) const;

  std::shared_ptr<TDaqMxLibrary> Lib;
  std::shared_ptr<TDaqTrace> Trace;
  std::string CardName;
  std::vector<std::string> OutputChannels;
  TAnalogInputArray ConnectedInputs;
  std::vector<bool> OutputFlags;
  double MinDwellTime = 0.0;
  double MaxDwellTime = 0.0;
  int32_t MaxPoints = 2000000;
  std::shared_ptr<TDaqTask> OutputTask;
  std::shared_ptr<TDaqTask> TriggerTask;
  std::vector<std::string> TaskChannels;  // channels already added to OutputTask
  std::shared_ptr<TTriggerCookie> Cookie;
  bool Connected = false;
  bool DisconnectPending = false;
  bool Stopping = false;
  std::shared_ptr<TDaqExecuteThread> ExecuteThread;
  bool ExternalTrigger = false;
  bool TriggerOnFallingEdge = false;
  std::string TriggerLine;
  std::vector<std::string> TriggerLines;
  std::vector<std::string> PfiTerminals;
  bool TriggerAvailable = false;
  bool Routed = false;
  std::unique_ptr<TProgressTimer> ProgressTimer;
  double Duration = 0.0;
  double Elapsed = 0.0;
  int32_t ReportedBurst = 0;
  int Processors = 0;
  TDeviceNotifyEvent OnTrigger;
  std::shared_ptr<TStartSentSlot> StartSent = std::make_shared<TStartSentSlot>();
};

// The cards the library knows, as one bus node "NI-DAQmx".
class TDaqInterface : public TSilentInterface, public IDeviceScanner {
 public:
  TDaqInterface();  // raises ENotInstalledError without the library
  ~TDaqInterface() override;

  void GetInterfaces(TInterfaceList& interfaces) override;
  void GetDevices(TDeviceList& devices) override;

  void OpenDevice() override;
  void CloseDevice() override;

 private:
  std::shared_ptr<TDaqMxLibrary> lib_;
  std::unique_ptr<TDaqTask> task_;
};

}  // namespace ondrevo
