#include "devices/VendorLibrary.h"

#include <dlfcn.h>
#include <link.h>

namespace ondrevo {

void* OwnSymbol(void* handle, const char* name) {
  void* symbol = ::dlsym(handle, name);
  if (!symbol) return nullptr;
  link_map* own = nullptr;
  if (::dlinfo(handle, RTLD_DI_LINKMAP, &own) != 0 || !own) return nullptr;
  Dl_info info{};
  link_map* from = nullptr;
  if (::dladdr1(symbol, &info, reinterpret_cast<void**>(&from), RTLD_DL_LINKMAP) == 0)
    return nullptr;
  return from == own ? symbol : nullptr;
}

}  // namespace ondrevo
