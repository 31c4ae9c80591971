// The DAQmx C library, loaded at run time: ONDREVO_DAQMX_LIBRARY when set, else libnidaqmx.so.1.
// Every user holds a shared reference; the library is unloaded when the last one goes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "daq/DaqTrace.h"

namespace ondrevo {

using TDaqTaskHandle = void*;

class TDaqMxLibrary {
 public:
  using int32 = std::int32_t;
  using uInt32 = std::uint32_t;
  using uInt64 = std::uint64_t;
  using float64 = double;
  using bool32 = std::uint32_t;
  using SignalCallback = int32 (*)(TDaqTaskHandle, int32, void*);

  static constexpr int32 Val_Volts = 10348;
  static constexpr int32 Val_Rising = 10280;
  static constexpr int32 Val_Falling = 10171;
  static constexpr int32 Val_ContSamps = 10123;
  static constexpr int32 Val_ChangeDetectionEvent = 12511;
  static constexpr int32 Val_GroupByChannel = 0;
  static constexpr int32 Val_ChanPerLine = 0;
  static constexpr int32 Val_DoNotInvertPolarity = 0;
  // The write could not place its samples before the time-out: the buffer is still full.
  static constexpr int32 ErrorSamplesNotYetWritten = -200292;

  // The shared copy; raises ENotInstalledError "DAQmx-DLL could not be loaded" when the library
  // or one of the entry points is missing.
  static std::shared_ptr<TDaqMxLibrary> Load();
  // Whether Load would succeed (no error when it would not).
  static bool Available();

  ~TDaqMxLibrary();
  TDaqMxLibrary(const TDaqMxLibrary&) = delete;
  TDaqMxLibrary& operator=(const TDaqMxLibrary&) = delete;

  // Raises EInterfaceError with the library's message and the code for a negative status.
  void Check(int32 status) const;
  std::string ErrorText(int32 status) const;

  int32 (*GetSysDevNames)(char*, uInt32) = nullptr;
  int32 (*GetDevProductType)(const char*, char*, uInt32) = nullptr;
  int32 (*GetDevSerialNum)(const char*, uInt32*) = nullptr;
  int32 (*GetDevAOPhysicalChans)(const char*, char*, uInt32) = nullptr;
  int32 (*GetDevAOMaxRate)(const char*, float64*) = nullptr;
  int32 (*GetDevAOMinRate)(const char*, float64*) = nullptr;
  int32 (*GetDevAOVoltageRngs)(const char*, float64*, uInt32) = nullptr;
  int32 (*GetDevDILines)(const char*, char*, uInt32) = nullptr;
  int32 (*GetDevTerminals)(const char*, char*, uInt32) = nullptr;
  int32 (*CreateTask)(const char*, TDaqTaskHandle*) = nullptr;
  int32 (*StartTask)(TDaqTaskHandle) = nullptr;
  int32 (*StopTask)(TDaqTaskHandle) = nullptr;
  int32 (*ClearTask)(TDaqTaskHandle) = nullptr;
  int32 (*CreateAOVoltageChan)(TDaqTaskHandle, const char*, const char*, float64, float64, int32,
                               const char*) = nullptr;
  int32 (*CreateDIChan)(TDaqTaskHandle, const char*, const char*, int32) = nullptr;
  int32 (*CfgOutputBuffer)(TDaqTaskHandle, uInt32) = nullptr;
  int32 (*CfgSampClkTiming)(TDaqTaskHandle, const char*, float64, int32, int32, uInt64) = nullptr;
  int32 (*CfgChangeDetectionTiming)(TDaqTaskHandle, const char*, const char*, int32,
                                    uInt64) = nullptr;
  int32 (*WriteAnalogF64)(TDaqTaskHandle, int32, bool32, float64, bool32, const float64*, int32*,
                          bool32*) = nullptr;
  int32 (*CfgDigEdgeStartTrig)(TDaqTaskHandle, const char*, int32) = nullptr;
  int32 (*DisableStartTrig)(TDaqTaskHandle) = nullptr;
  int32 (*RegisterSignalEvent)(TDaqTaskHandle, int32, uInt32, SignalCallback, void*) = nullptr;
  int32 (*ConnectTerms)(const char*, const char*, int32) = nullptr;
  int32 (*DisconnectTerms)(const char*, const char*) = nullptr;
  int32 (*GetExtendedErrorInfo)(char*, uInt32) = nullptr;
  // Optional: the samples per channel the card has put out since the task started. Without it
  // a stream knows only what the card must at least have put out to take the last write.
  int32 (*GetWriteTotalSampPerChanGenerated)(TDaqTaskHandle, uInt64*) = nullptr;

  // The library's own handle, for stand-ins that export more than the DAQmx entry points.
  void* Handle() const { return handle_; }

 private:
  TDaqMxLibrary() = default;
  void* handle_ = nullptr;
};

// A task cleared when the last holder lets go (the device and its streaming thread share one).
// With a trace, every call through Call or Check is logged as "> LABEL: what".
class TDaqTask {
 public:
  // Creates an unnamed task.
  explicit TDaqTask(std::shared_ptr<TDaqMxLibrary> lib, std::shared_ptr<TDaqTrace> trace = nullptr,
                    std::string label = {});
  ~TDaqTask();
  TDaqTask(const TDaqTask&) = delete;
  TDaqTask& operator=(const TDaqTask&) = delete;
  TDaqTaskHandle Handle() const { return handle_; }
  const std::shared_ptr<TDaqMxLibrary>& Library() const { return lib_; }
  const std::shared_ptr<TDaqTrace>& Trace() const { return trace_; }
  const std::string& Label() const { return label_; }

  // Makes fn(handle) as `what` on this task; returns its status.
  std::int32_t Call(const std::string& what,
                    const std::function<std::int32_t(TDaqTaskHandle)>& fn) const;
  // As Call, raising EInterfaceError with the library's message for a failure.
  void Check(const std::string& what, const std::function<std::int32_t(TDaqTaskHandle)>& fn) const;
  // Whether Call's text is read by anybody.
  bool Traced() const { return trace_ && trace_->Observed(); }

 private:
  std::shared_ptr<TDaqMxLibrary> lib_;
  std::shared_ptr<TDaqTrace> trace_;
  std::string label_;
  TDaqTaskHandle handle_ = nullptr;
};

// Comma-separated library lists: blanks removed from every name.
std::vector<std::string> SplitDaqList(const std::string& text);

}  // namespace ondrevo
