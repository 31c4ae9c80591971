#include "sim/BusHost.h"

#include <dlfcn.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <unistd.h>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace ondrevo::sim {

TSimEndpoint::TSimEndpoint(std::shared_ptr<TSimInstrument> instrument)
    : instrument_(std::move(instrument)) {}

void TSimEndpoint::SetFaults(const TSimFaults& faults) {
  std::lock_guard lock(lock_);
  faults_ = faults;
  bytes_ = 0;
}

ondrevo_sim_endpoint TSimEndpoint::Endpoint() {
  return ondrevo_sim_endpoint{this, &TSimEndpoint::Line, &TSimEndpoint::Busy};
}

int TSimEndpoint::Busy(void* context) {
  return static_cast<TSimEndpoint*>(context)->instrument_->Busy() ? 1 : 0;
}

int TSimEndpoint::Line(void* context, const char* line, long length, char* reply, long capacity,
                       long* replyLength, int* delayMs) {
  auto* self = static_cast<TSimEndpoint*>(context);
  TSimFaults fault;
  bool faulty = false;
  {
    std::lock_guard lock(self->lock_);
    if (self->faults_.HangUpAfterBytes >= 0) {
      self->bytes_ += length + 1;
      if (self->bytes_ > self->faults_.HangUpAfterBytes) return -1;
    }
    fault = self->faults_;
    faulty = fault.NoReply || fault.GarbageBytes > 0 || fault.PartialLine || fault.LateReplyMs > 0;
    if (faulty && self->faults_.Replies == 0) faulty = false;
  }
  const auto answer = self->instrument_->HandleLine(std::string_view(line, length));
  if (!answer) return 0;
  if (faulty) {
    std::lock_guard lock(self->lock_);
    if (self->faults_.Replies > 0) --self->faults_.Replies;
  }
  std::string data = *answer + (fault.CrLf ? "\r\n" : "\n");
  *delayMs = 0;
  if (faulty) {
    if (fault.NoReply) return 0;
    if (fault.GarbageBytes > 0) {
      data.resize(fault.GarbageBytes);
      for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>('A' + i % 26);
    } else if (fault.PartialLine) {
      data = answer->substr(0, (answer->size() + 1) / 2);
    }
    *delayMs = fault.LateReplyMs;
  }
  const long n = std::min<long>(static_cast<long>(data.size()), capacity);
  std::memcpy(reply, data.data(), static_cast<std::size_t>(n));
  *replyLength = n;
  return 1;
}

TStandInLibrary::TStandInLibrary(const std::string& path) : path_(path) {
  if (path.empty()) throw std::runtime_error("No stand-in library in this build");
  handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) throw std::runtime_error("Cannot load " + path);
}

TStandInLibrary::~TStandInLibrary() {
  if (handle_) ::dlclose(handle_);
}

void* TStandInLibrary::Symbol(const char* name) const {
  void* symbol = ::dlsym(handle_, name);
  if (!symbol) throw std::runtime_error(std::string("No ") + name + " in " + path_);
  return symbol;
}

std::string FindSimFile(const std::string& programPath, const std::string& name,
                        const std::string& built) {
  namespace fs = std::filesystem;
  std::string installed;
  if (!programPath.empty()) {
    const fs::path bin = fs::path(programPath).parent_path();
    installed = (bin.parent_path() / ONDREVO_SIM_INSTALL_SUBDIR / name).lexically_normal().string();
    if (::access(installed.c_str(), R_OK) == 0) return installed;
  }
  if (!built.empty() && ::access(built.c_str(), R_OK) == 0) return built;
  return installed.empty() ? built : installed;
}

namespace {

// The running program's own path: the installed stand-ins lie beside its installation.
std::string ProgramPath() {
  std::error_code ec;
  const auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : path.string();
}

std::string Locate(const char* name, const char* built) {
  return FindSimFile(ProgramPath(), name, built ? built : "");
}

}  // namespace

std::string GpibSimLibraryPath() {
#ifdef ONDREVO_GPIB_SIM_LIBRARY
  return Locate("libondrevo-gpib-sim.so", ONDREVO_GPIB_SIM_LIBRARY);
#else
  return Locate("libondrevo-gpib-sim.so", nullptr);
#endif
}

std::string UsbSimLibraryPath() {
#ifdef ONDREVO_USB_SIM_LIBRARY
  return Locate("libondrevo-usb-sim.so", ONDREVO_USB_SIM_LIBRARY);
#else
  return Locate("libondrevo-usb-sim.so", nullptr);
#endif
}

std::string UsbMonitorPath() {
#ifdef ONDREVO_USB_MONITOR
  return Locate("KSVMon32.exe", ONDREVO_USB_MONITOR);
#else
  return Locate("KSVMon32.exe", nullptr);
#endif
}

std::string DaqMxSimLibraryPath() {
#ifdef ONDREVO_DAQMX_SIM_LIBRARY
  return Locate("libondrevo-daqmx-sim.so", ONDREVO_DAQMX_SIM_LIBRARY);
#else
  return Locate("libondrevo-daqmx-sim.so", nullptr);
#endif
}

TUsbMonitorProcess::TUsbMonitorProcess(const std::string& path) {
  char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
  pid_t pid = -1;
  if (::posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ) != 0)
    throw std::runtime_error("Cannot start " + path);
  pid_ = pid;
  // The check reads the process list: wait until the child runs under its own name.
  for (int k = 0; k < 200; ++k) {
    std::ifstream comm("/proc/" + std::to_string(pid_) + "/comm");
    std::string name;
    if (std::getline(comm, name) && path.ends_with(name)) break;
    ::usleep(5000);
  }
}

TUsbMonitorProcess::~TUsbMonitorProcess() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  int status = 0;
  ::waitpid(pid_, &status, 0);
}

namespace {

template <typename F>
F Entry(const TStandInLibrary& library, const char* name) {
  return reinterpret_cast<F>(library.Symbol(name));
}

}  // namespace

TGpibSimHost::TGpibSimHost(const std::string& libraryPath) : library_(libraryPath) {}

TGpibSimHost::~TGpibSimHost() {
  auto detach = Entry<void (*)(int, int)>(library_, "ondrevo_gpib_sim_detach");
  std::lock_guard lock(lock_);
  for (auto& [key, endpoint] : endpoints_) detach(key.first, key.second);
}

void TGpibSimHost::Attach(int board, int address, std::shared_ptr<TSimInstrument> instrument) {
  auto attach =
      Entry<int (*)(int, int, const ondrevo_sim_endpoint*)>(library_, "ondrevo_gpib_sim_attach");
  std::lock_guard lock(lock_);
  auto endpoint = std::make_unique<TSimEndpoint>(std::move(instrument));
  const ondrevo_sim_endpoint e = endpoint->Endpoint();
  if (attach(board, address, &e) != 0) throw std::invalid_argument("GPIB address out of range");
  // The old endpoint (if any) is replaced in the library before it dies here.
  endpoints_[{board, address}] = std::move(endpoint);
}

void TGpibSimHost::Detach(int board, int address) {
  Entry<void (*)(int, int)>(library_, "ondrevo_gpib_sim_detach")(board, address);
  std::lock_guard lock(lock_);
  endpoints_.erase({board, address});
}

void TGpibSimHost::SetBoard(int board, bool systemController, int ownAddress) {
  Entry<void (*)(int, int, int)>(library_, "ondrevo_gpib_sim_board")(board, systemController,
                                                                     ownAddress);
}

void TGpibSimHost::RemoveBoard(int board) {
  Entry<void (*)(int)>(library_, "ondrevo_gpib_sim_remove_board")(board);
}

TGpibSimHost::TDeviceSettings TGpibSimHost::DeviceSettings(int board, int address) {
  TDeviceSettings settings;
  Entry<int (*)(int, int, int*, int*, int*)>(library_, "ondrevo_gpib_sim_device_settings")(
      board, address, &settings.Timeout, &settings.Eot, &settings.Eos);
  return settings;
}

int TGpibSimHost::RemoteEnable(int board) {
  return Entry<int (*)(int)>(library_, "ondrevo_gpib_sim_remote_enable")(board);
}

TSimEndpoint& TGpibSimHost::At(int board, int address) {
  std::lock_guard lock(lock_);
  return *endpoints_.at({board, address});
}

TUsbSimHost::TUsbSimHost(const std::string& libraryPath) : library_(libraryPath) {}

TUsbSimHost::~TUsbSimHost() {
  auto detach = Entry<void (*)(void*)>(library_, "ondrevo_usb_sim_detach");
  std::lock_guard lock(lock_);
  for (auto& [key, endpoint] : endpoints_) detach(endpoint.get());
}

void TUsbSimHost::SetReadTimeout(int milliseconds) {
  Entry<void (*)(int)>(library_, "ondrevo_usb_sim_timeout")(milliseconds);
}

void TUsbSimHost::FailNext(int code) {
  Entry<void (*)(int)>(library_, "ondrevo_usb_sim_fail_next")(code);
}

void TUsbSimHost::Attach(std::shared_ptr<TSimInstrument> instrument) {
  auto attach =
      Entry<int (*)(const char*, const ondrevo_sim_endpoint*)>(library_, "ondrevo_usb_sim_attach");
  std::lock_guard lock(lock_);
  TSimInstrument* key = instrument.get();
  auto endpoint = std::make_unique<TSimEndpoint>(std::move(instrument));
  const ondrevo_sim_endpoint e = endpoint->Endpoint();
  if (attach(key->IdentificationReply().c_str(), &e) != 0)
    throw std::runtime_error("USB stand-in refused the instrument");
  endpoints_[key] = std::move(endpoint);
}

void TUsbSimHost::Detach(const std::shared_ptr<TSimInstrument>& instrument) {
  std::lock_guard lock(lock_);
  const auto it = endpoints_.find(instrument.get());
  if (it == endpoints_.end()) return;
  Entry<void (*)(void*)>(library_, "ondrevo_usb_sim_detach")(it->second.get());
  endpoints_.erase(it);
}

TSimEndpoint& TUsbSimHost::At(const std::shared_ptr<TSimInstrument>& instrument) {
  std::lock_guard lock(lock_);
  return *endpoints_.at(instrument.get());
}

}  // namespace ondrevo::sim
