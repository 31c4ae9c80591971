#include "transports/GpibLibrary.h"

#include <dlfcn.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "devices/DeviceErrors.h"
#include "devices/VendorLibrary.h"
#include "document/Translate.h"

namespace ondrevo {

namespace {

std::mutex gLock;
std::weak_ptr<TGpibLibrary> gLoaded;

template <typename T>
bool Resolve(void* handle, const char* name, T& target) {
  target = reinterpret_cast<T>(OwnSymbol(handle, name));
  return target != nullptr;
}

}  // namespace

std::shared_ptr<TGpibLibrary> TGpibLibrary::Acquire() {
  std::lock_guard lock(gLock);
  if (auto loaded = gLoaded.lock()) return loaded;
  std::vector<std::string> candidates;
  if (const char* path = std::getenv("ONDREVO_GPIB_LIBRARY"); path && *path)
    candidates.emplace_back(path);
  candidates.emplace_back("libgpib.so.0");
  candidates.emplace_back("libni4882.so");
  for (const std::string& path : candidates) {
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) continue;
    std::shared_ptr<TGpibLibrary> library(new TGpibLibrary);
    library->handle_ = handle;
    TGpibLibrary& l = *library;
    bool complete = Resolve(handle, "ibask", l.ibask) && Resolve(handle, "ibclr", l.ibclr) &&
                    Resolve(handle, "ibconfig", l.ibconfig) && Resolve(handle, "ibdev", l.ibdev) &&
                    Resolve(handle, "ibfind", l.ibfind) && Resolve(handle, "ibln", l.ibln) &&
                    Resolve(handle, "ibloc", l.ibloc) && Resolve(handle, "ibonl", l.ibonl) &&
                    Resolve(handle, "ibrd", l.ibrd) && Resolve(handle, "ibrsp", l.ibrsp) &&
                    Resolve(handle, "ibsic", l.ibsic) && Resolve(handle, "ibsre", l.ibsre) &&
                    Resolve(handle, "ibtmo", l.ibtmo) && Resolve(handle, "ibwrt", l.ibwrt);
    // Per-thread status where the library has it, else its global variables.
    if (!(Resolve(handle, "ThreadIbsta", l.threadIbsta_) &&
          Resolve(handle, "ThreadIberr", l.threadIberr_))) {
      l.threadIbsta_ = l.threadIberr_ = nullptr;
      complete =
          complete && Resolve(handle, "ibsta", l.ibsta_) && Resolve(handle, "iberr", l.iberr_);
    }
    if (!complete) continue;  // the destructor unloads it again
    gLoaded = library;
    return library;
  }
  throw ENotInstalledError(_("GPIB-DLL could not be loaded"));
}

TGpibLibrary::~TGpibLibrary() {
  if (handle_) ::dlclose(handle_);
}

int TGpibLibrary::Status() const {
  return threadIbsta_ ? threadIbsta_() : *ibsta_;
}

int TGpibLibrary::Error() const {
  return threadIberr_ ? threadIberr_() : *iberr_;
}

}  // namespace ondrevo
