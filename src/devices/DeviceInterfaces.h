// Capability interfaces of devices and scanners. A caller asks a device for a capability with
// std::dynamic_pointer_cast; a device answers for every ancestor of what it implements.
#pragma once

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ondrevo {

class TWaveform;
class TInterface;
class TDevice;
class IDevice;
class IAnalogInput;
class IAnalogOutput;

// Fixed identifiers of the interfaces; kept for callers that name a capability by text.
inline constexpr const char* kIID_IDevice = "{46BB131E-CCFC-4416-8ECD-B8AF81EFFB90}";
inline constexpr const char* kIID_IRemoteControllable = "{4681E593-ADEA-46BB-AF75-54559F9289DA}";
inline constexpr const char* kIID_IWaveformPlayer = "{CF85D790-0679-44D0-8C5C-D0EB9712F6F8}";
inline constexpr const char* kIID_ITriggerablePlayer = "{BDF83211-BD06-4D57-BF9B-D29CD6EEC437}";
inline constexpr const char* kIID_IAnalogOutput = "{313D26C9-D775-48FB-8E8E-ACAAB9E158B6}";
inline constexpr const char* kIID_IAnalogInput = "{EAD26A7A-26CA-413C-BE39-B2A94F44C5FC}";
inline constexpr const char* kIID_IDeviceScanner = "{8355B2A5-8453-4E2A-9409-2EAC5698BB5C}";

// Events. Sender is the device raising the event; an empty function is no handler.
using TDeviceNotifyEvent = std::function<void(IDevice* sender)>;
using TDeviceProgressEvent = std::function<void(IDevice* sender, int32_t percent)>;
using TDeviceCountEvent = std::function<void(IDevice* sender, int32_t count)>;
using TDeviceErrorEvent = std::function<void(IDevice* sender, const std::exception& e)>;

enum class TTriggerType : uint8_t { ttRisingEdge = 0, ttFallingEdge = 1 };

using TDeviceList = std::vector<std::shared_ptr<TDevice>>;
using TInterfaceList = std::vector<std::shared_ptr<TInterface>>;
// Wiring: an output holds the input device it drives; the input refers back weakly, so the two
// ends never keep each other alive.
using TAnalogInputArray = std::vector<std::shared_ptr<IAnalogInput>>;
using TAnalogOutputArray = std::vector<std::weak_ptr<IAnalogOutput>>;
using TTriggerTypes = std::vector<TTriggerType>;

class IDevice {
 public:
  static constexpr const char* IID = kIID_IDevice;
  virtual ~IDevice() = default;
  virtual std::string GetModel() const = 0;
  virtual std::string GetSerialNumber() const = 0;
  virtual std::string GetName() const = 0;
  virtual double GetMinVoltage() const = 0;
  virtual double GetMaxVoltage() const = 0;
  virtual double GetMinCurrent() const = 0;
  virtual double GetMaxCurrent() const = 0;
  virtual double GetVoltageFactor() const = 0;
  virtual double GetCurrentFactor() const = 0;
  virtual bool IsUnsupported() const = 0;
  virtual void SetName(const std::string& name) = 0;
};

class IRemoteControllable : public virtual IDevice {
 public:
  static constexpr const char* IID = kIID_IRemoteControllable;
  virtual void Connect() = 0;
  virtual void Disconnect() = 0;
  virtual bool IsConnected() const = 0;
  virtual std::shared_ptr<TInterface> GetInterface() const = 0;
  virtual int32_t GetMaxCommandLength() const = 0;
};

class IWaveformPlayer : public virtual IRemoteControllable {
 public:
  static constexpr const char* IID = kIID_IWaveformPlayer;
  virtual void Upload(std::shared_ptr<TWaveform> voltage, std::shared_ptr<TWaveform> current,
                      bool enableOutput) = 0;
  virtual void CancelUpload() = 0;
  virtual void Play() = 0;
  virtual void Pause() = 0;
  virtual void Stop() = 0;
  virtual void SetBurstCount(int32_t count) = 0;
  virtual void SetOnUploadProgress(TDeviceProgressEvent handler) = 0;
  virtual void SetOnPlayProgress(TDeviceProgressEvent handler) = 0;
  virtual void SetOnBurst(TDeviceCountEvent handler) = 0;
  virtual void SetOnUploadDone(TDeviceNotifyEvent handler) = 0;
  virtual void SetOnError(TDeviceErrorEvent handler) = 0;
  virtual void SetOnPlay(TDeviceNotifyEvent handler) = 0;
  virtual void SetOnStop(TDeviceNotifyEvent handler) = 0;
  virtual void SetOnConnect(TDeviceNotifyEvent handler) = 0;
  virtual void SetOnDisconnect(TDeviceNotifyEvent handler) = 0;
  virtual int32_t GetBurstCount() = 0;
  virtual double GetMinDwellTime() const = 0;
  virtual double GetMaxDwellTime() const = 0;
  virtual int32_t GetMaxPoints() const = 0;
  virtual int32_t GetMaxBurstCount() const = 0;
  virtual double GetVoltageResolution() const = 0;
  virtual double GetCurrentResolution() const = 0;
  virtual TDeviceProgressEvent GetOnUploadProgress() const = 0;
  virtual TDeviceProgressEvent GetOnPlayProgress() const = 0;
  virtual TDeviceCountEvent GetOnBurst() const = 0;
  virtual TDeviceNotifyEvent GetOnUploadDone() const = 0;
  virtual TDeviceErrorEvent GetOnError() const = 0;
  virtual TDeviceNotifyEvent GetOnPlay() const = 0;
  virtual TDeviceNotifyEvent GetOnStop() const = 0;
  virtual TDeviceNotifyEvent GetOnConnect() const = 0;
  virtual TDeviceNotifyEvent GetOnDisconnect() const = 0;
};

class ITriggerablePlayer : public virtual IWaveformPlayer {
 public:
  static constexpr const char* IID = kIID_ITriggerablePlayer;
  virtual void SetExternalTrigger(bool enabled) = 0;
  virtual void SetTriggerChannel(int32_t index) = 0;
  virtual void SetTriggerOnFallingEdge(bool value) = 0;
  virtual void SetOnTrigger(TDeviceNotifyEvent handler) = 0;
  virtual bool GetExternalTrigger() const = 0;
  virtual int32_t GetTriggerChannelCount() const = 0;
  virtual void GetTriggerTypes(TTriggerTypes& types) const = 0;
  virtual void GetTriggerChannelName(int32_t index, std::string& name) const = 0;
  virtual TDeviceNotifyEvent GetOnTrigger() const = 0;
  virtual bool IsExternalTriggerAvailable() const = 0;
};

// A player that tells when its output started, on the monotonic clock, so that readings taken
// while it plays are timed from the instrument's start rather than from the play report.
// `at` is right after the command that starts the output went out; for a run started by the
// external trigger it is the driver's best estimate of the trigger, within +-`uncertainty`.
class IStartTimeReporter {
 public:
  using TStartSentEvent = std::function<void(std::chrono::steady_clock::time_point at,
                                             std::chrono::steady_clock::duration uncertainty)>;
  virtual ~IStartTimeReporter() = default;
  // Called on the driver's thread (not necessarily the main thread); an empty function is none.
  virtual void SetOnStartSent(TStartSentEvent handler) = 0;
};

class IAnalogOutput : public virtual IRemoteControllable {
 public:
  static constexpr const char* IID = kIID_IAnalogOutput;
  virtual void SetOutputEnabled(bool enabled, int32_t channel) = 0;
  virtual void SetOutputFlag(bool value, int32_t channel) = 0;
  virtual void SetValues(double voltage, double current) = 0;
  virtual void GetValues(double& voltage, double& current) = 0;
  // The device's own array: assigning an element changes the device's wiring.
  virtual TAnalogInputArray& GetConnectedInputs() = 0;
  virtual bool IsOutputEnabled(int32_t channel) = 0;
  virtual bool GetOutputFlag(int32_t channel) const = 0;
};

class IAnalogInput : public virtual IDevice {
 public:
  static constexpr const char* IID = kIID_IAnalogInput;
  virtual void SetCurrentInput(bool value, int32_t input) = 0;
  // The device's own array, like GetConnectedInputs.
  virtual TAnalogOutputArray& GetConnectedOutputs() = 0;
  virtual bool IsCurrentInput(int32_t input) const = 0;
};

class IDeviceScanner {
 public:
  static constexpr const char* IID = kIID_IDeviceScanner;
  virtual ~IDeviceScanner() = default;
  virtual void GetInterfaces(TInterfaceList& interfaces) = 0;
  virtual void GetDevices(TDeviceList& devices) = 0;
  // Asked between the probes of a bus that takes long (a host list): true ends GetDevices early
  // with what was found so far. The search sets it for the time of one GetDevices.
  void SetCancelCheck(std::function<bool()> check) { cancelCheck_ = std::move(check); }

 protected:
  bool CancelRequested() const { return cancelCheck_ && cancelCheck_(); }

 private:
  std::function<bool()> cancelCheck_;
};

// Text of a trigger type as the remote window lists it (untranslated key).
const char* TriggerTypeText(TTriggerType type);

}  // namespace ondrevo
