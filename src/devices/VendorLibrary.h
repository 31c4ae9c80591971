// Entry points of a vendor library loaded at run time.
#pragma once

namespace ondrevo {

// The address of `name` when the library behind `handle` defines it itself; nullptr when it is
// missing there, also when dlsym would find it in a library it depends on (the C library's
// `open` or `read`, say), which would then be called with arguments meant for the vendor.
void* OwnSymbol(void* handle, const char* name);

}  // namespace ondrevo
