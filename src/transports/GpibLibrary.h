// The NI-488.2 library, loaded at run time: ONDREVO_GPIB_LIBRARY, else libgpib.so.0, else
// libni4882.so. One load is shared by every GPIB object and released with the last one.
#pragma once

#include <memory>

#include "transports/Gpib488.h"

namespace ondrevo {

class TGpibLibrary {
 public:
  // The loaded library; raises ENotInstalledError "GPIB-DLL could not be loaded" when no
  // candidate loads or one of the entry points is missing.
  static std::shared_ptr<TGpibLibrary> Acquire();
  ~TGpibLibrary();

  gpib::ibask_t ibask = nullptr;
  gpib::ibclr_t ibclr = nullptr;
  gpib::ibconfig_t ibconfig = nullptr;
  gpib::ibdev_t ibdev = nullptr;
  gpib::ibfind_t ibfind = nullptr;
  gpib::ibln_t ibln = nullptr;
  gpib::ibloc_t ibloc = nullptr;
  gpib::ibonl_t ibonl = nullptr;
  gpib::ibrd_t ibrd = nullptr;
  gpib::ibrsp_t ibrsp = nullptr;
  gpib::ibsic_t ibsic = nullptr;
  gpib::ibsre_t ibsre = nullptr;
  gpib::ibtmo_t ibtmo = nullptr;
  gpib::ibwrt_t ibwrt = nullptr;

  // Status word and error code of this thread's last call.
  int Status() const;
  int Error() const;

 private:
  TGpibLibrary() = default;
  void* handle_ = nullptr;
  gpib::thread_status_t threadIbsta_ = nullptr;
  gpib::thread_status_t threadIberr_ = nullptr;
  const volatile int* ibsta_ = nullptr;
  const volatile int* iberr_ = nullptr;
};

}  // namespace ondrevo
