#include "daq/DaqMxLibrary.h"

#include <dlfcn.h>

#include <cstdlib>
#include <mutex>

#include "devices/DeviceErrors.h"
#include "devices/VendorLibrary.h"
#include "document/Text.h"
#include "document/Translate.h"

namespace ondrevo {

namespace {

std::mutex gLoadLock;
std::weak_ptr<TDaqMxLibrary> gShared;

const char* LibraryPath() {
  const char* path = std::getenv("ONDREVO_DAQMX_LIBRARY");
  return path && *path ? path : "libnidaqmx.so.1";
}

}  // namespace

std::shared_ptr<TDaqMxLibrary> TDaqMxLibrary::Load() {
  std::lock_guard guard(gLoadLock);
  if (auto lib = gShared.lock()) return lib;
  void* handle = dlopen(LibraryPath(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) throw ENotInstalledError(_("DAQmx-DLL could not be loaded"));
  std::shared_ptr<TDaqMxLibrary> lib(new TDaqMxLibrary);
  lib->handle_ = handle;
  bool complete = true;
  auto resolve = [&](auto& fn, const char* name) {
    fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(OwnSymbol(handle, name));
    if (!fn) complete = false;
  };
  resolve(lib->GetSysDevNames, "DAQmxGetSysDevNames");
  resolve(lib->GetDevProductType, "DAQmxGetDevProductType");
  resolve(lib->GetDevSerialNum, "DAQmxGetDevSerialNum");
  resolve(lib->GetDevAOPhysicalChans, "DAQmxGetDevAOPhysicalChans");
  resolve(lib->GetDevAOMaxRate, "DAQmxGetDevAOMaxRate");
  resolve(lib->GetDevAOMinRate, "DAQmxGetDevAOMinRate");
  resolve(lib->GetDevAOVoltageRngs, "DAQmxGetDevAOVoltageRngs");
  resolve(lib->GetDevDILines, "DAQmxGetDevDILines");
  resolve(lib->GetDevTerminals, "DAQmxGetDevTerminals");
  resolve(lib->CreateTask, "DAQmxCreateTask");
  resolve(lib->StartTask, "DAQmxStartTask");
  resolve(lib->StopTask, "DAQmxStopTask");
  resolve(lib->ClearTask, "DAQmxClearTask");
  resolve(lib->CreateAOVoltageChan, "DAQmxCreateAOVoltageChan");
  resolve(lib->CreateDIChan, "DAQmxCreateDIChan");
  resolve(lib->CfgOutputBuffer, "DAQmxCfgOutputBuffer");
  resolve(lib->CfgSampClkTiming, "DAQmxCfgSampClkTiming");
  resolve(lib->CfgChangeDetectionTiming, "DAQmxCfgChangeDetectionTiming");
  resolve(lib->WriteAnalogF64, "DAQmxWriteAnalogF64");
  resolve(lib->CfgDigEdgeStartTrig, "DAQmxCfgDigEdgeStartTrig");
  resolve(lib->DisableStartTrig, "DAQmxDisableStartTrig");
  resolve(lib->RegisterSignalEvent, "DAQmxRegisterSignalEvent");
  resolve(lib->ConnectTerms, "DAQmxConnectTerms");
  resolve(lib->DisconnectTerms, "DAQmxDisconnectTerms");
  resolve(lib->GetExtendedErrorInfo, "DAQmxGetExtendedErrorInfo");
  lib->GetWriteTotalSampPerChanGenerated =
      reinterpret_cast<decltype(lib->GetWriteTotalSampPerChanGenerated)>(
          OwnSymbol(handle, "DAQmxGetWriteTotalSampPerChanGenerated"));
  if (!complete) throw ENotInstalledError(_("DAQmx-DLL could not be loaded"));  // lib unloads
  gShared = lib;
  return lib;
}

bool TDaqMxLibrary::Available() {
  try {
    return Load() != nullptr;
  } catch (const EInterfaceError&) {
    return false;
  }
}

namespace {
// A vendor message names the task, the property and the status: more than a reply is allowed.
constexpr std::size_t kMaxLibraryText = 400;
}  // namespace

TDaqMxLibrary::~TDaqMxLibrary() {
  if (handle_) dlclose(handle_);
}

std::string TDaqMxLibrary::ErrorText(int32 status) const {
  char text[2048] = {};
  if (GetExtendedErrorInfo) GetExtendedErrorInfo(text, sizeof text);
  text[sizeof text - 1] = '\0';
  // The library's text is foreign: its line breaks become blanks (its messages span lines), and it
  // is cut and cleaned like any other before it reaches a message, the log or the trace.
  std::string folded;
  for (const char* c = text; *c; ++c) {
    const bool lineBreak = *c == '\n' || *c == '\r';
    if (!lineBreak)
      folded += *c;
    else if (!folded.empty() && folded.back() != ' ')
      folded += ' ';
  }
  std::string message = folded.empty() ? _("DAQmx error") : ShowForeign(folded, kMaxLibraryText);
  return message + " (" + std::to_string(status) + ")";
}

void TDaqMxLibrary::Check(int32 status) const {
  if (status < 0) throw EInterfaceError(ErrorText(status));
}

TDaqTask::TDaqTask(std::shared_ptr<TDaqMxLibrary> lib, std::shared_ptr<TDaqTrace> trace,
                   std::string label)
    : lib_(std::move(lib)), trace_(std::move(trace)), label_(std::move(label)) {
  Check("create task", [this](TDaqTaskHandle) { return lib_->CreateTask("", &handle_); });
}

TDaqTask::~TDaqTask() {
  if (handle_) Call("clear task", [this](TDaqTaskHandle h) { return lib_->ClearTask(h); });
}

std::int32_t TDaqTask::Call(const std::string& what,
                            const std::function<std::int32_t(TDaqTaskHandle)>& fn) const {
  if (!trace_) return fn(handle_);
  return trace_->Call(label_.empty() ? what : label_ + ": " + what, [&] { return fn(handle_); });
}

void TDaqTask::Check(const std::string& what,
                     const std::function<std::int32_t(TDaqTaskHandle)>& fn) const {
  lib_->Check(Call(what, fn));
}

std::vector<std::string> SplitDaqList(const std::string& text) {
  std::vector<std::string> out;
  std::string part;
  for (char c : text) {
    if (c == ',') {
      if (!part.empty()) out.push_back(part);
      part.clear();
    } else if (c != ' ' && c != '\t') {
      part += c;
    }
  }
  if (!part.empty()) out.push_back(part);
  return out;
}

}  // namespace ondrevo
