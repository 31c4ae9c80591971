// Simulated instruments behind the stand-in vendor libraries, in this process: the library is
// loaded like the transports load it, and each instrument is attached as an endpoint that
// applies the same faults as the pty and TCP fronts.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "sim/Instrument.h"
#include "sim/SimEndpoint.h"

namespace ondrevo::sim {

class TSimEndpoint {
 public:
  explicit TSimEndpoint(std::shared_ptr<TSimInstrument> instrument);
  TSimEndpoint(const TSimEndpoint&) = delete;
  TSimEndpoint& operator=(const TSimEndpoint&) = delete;

  const std::shared_ptr<TSimInstrument>& Instrument() const { return instrument_; }
  // HangUpAfterBytes makes the instrument vanish from the bus.
  void SetFaults(const TSimFaults& faults);
  ondrevo_sim_endpoint Endpoint();

 private:
  static int Line(void* context, const char* line, long length, char* reply, long capacity,
                  long* replyLength, int* delayMs);
  static int Busy(void* context);

  std::shared_ptr<TSimInstrument> instrument_;
  std::mutex lock_;
  TSimFaults faults_;
  long long bytes_ = 0;
};

// A loaded stand-in library; unloaded with the last user.
class TStandInLibrary {
 public:
  explicit TStandInLibrary(const std::string& path);
  ~TStandInLibrary();
  TStandInLibrary(const TStandInLibrary&) = delete;
  TStandInLibrary& operator=(const TStandInLibrary&) = delete;
  void* Symbol(const char* name) const;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  void* handle_ = nullptr;
};

// A stand-in file `name`: in the simulators' installed folder (`programPath`'s folder, then
// ../lib/<arch>/ondrevo) when it is there, else where this build made it (`built`, empty when
// none); the installed candidate when neither exists, so a failed load names the place looked at.
std::string FindSimFile(const std::string& programPath, const std::string& name,
                        const std::string& built);

// Where the stand-in libraries and the monitor program are, installed or built (see FindSimFile).
std::string GpibSimLibraryPath();
std::string UsbSimLibraryPath();
std::string UsbMonitorPath();
std::string DaqMxSimLibraryPath();

// The monitor program, run as a child process for as long as this object lives.
class TUsbMonitorProcess {
 public:
  explicit TUsbMonitorProcess(const std::string& path = UsbMonitorPath());
  ~TUsbMonitorProcess();  // ends the child it started
  TUsbMonitorProcess(const TUsbMonitorProcess&) = delete;
  TUsbMonitorProcess& operator=(const TUsbMonitorProcess&) = delete;

 private:
  int pid_ = -1;
};

// Instruments at addresses of the GPIB stand-in's boards.
class TGpibSimHost {
 public:
  explicit TGpibSimHost(const std::string& libraryPath = GpibSimLibraryPath());
  ~TGpibSimHost();  // detaches its instruments
  void Attach(int board, int address, std::shared_ptr<TSimInstrument> instrument);
  void Detach(int board, int address);
  void SetBoard(int board, bool systemController, int ownAddress);
  void RemoveBoard(int board);
  TSimEndpoint& At(int board, int address);
  const std::string& Path() const { return library_.Path(); }
  // What ibdev was last given for the address (-1 each where none was opened).
  struct TDeviceSettings {
    int Timeout = -1, Eot = -1, Eos = -1;
  };
  TDeviceSettings DeviceSettings(int board, int address);
  int RemoteEnable(int board);  // the board's IbcSRE setting, -1 for no such board

 private:
  TStandInLibrary library_;
  std::mutex lock_;
  std::map<std::pair<int, int>, std::unique_ptr<TSimEndpoint>> endpoints_;
};

// Instruments listed by the USB stand-in, in attach order.
class TUsbSimHost {
 public:
  explicit TUsbSimHost(const std::string& libraryPath = UsbSimLibraryPath());
  ~TUsbSimHost();
  // How long a read waits for a reply before it reports a time-out (3000 ms).
  void SetReadTimeout(int milliseconds);
  // The next write, read or status call of any connection returns this status code.
  void FailNext(int code);
  // The identification string the library lists for it is the instrument's *IDN? reply.
  void Attach(std::shared_ptr<TSimInstrument> instrument);
  void Detach(const std::shared_ptr<TSimInstrument>& instrument);
  TSimEndpoint& At(const std::shared_ptr<TSimInstrument>& instrument);
  const std::string& Path() const { return library_.Path(); }

 private:
  TStandInLibrary library_;
  std::mutex lock_;
  std::map<TSimInstrument*, std::unique_ptr<TSimEndpoint>> endpoints_;
};

}  // namespace ondrevo::sim
