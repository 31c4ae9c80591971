// A vendor library counts only with the entry points it defines itself: names that dlsym would
// find in a library it depends on (the C library's open, read, write, close) do not make it one.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include "devices/DeviceErrors.h"
#include "devices/VendorLibrary.h"
#include "transports/BusFixtures.h"
#include "transports/GpibLibrary.h"
#include "transports/UsbInterface.h"

namespace ondrevo {
namespace {

using testing::TScopedEnv;

TEST(VendorLibrary, OnlyTheLibrarysOwnSymbolsCount) {
  void* partial = ::dlopen(ONDREVO_TEST_USB_PARTIAL, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(partial, nullptr) << ::dlerror();
  EXPECT_NE(::dlsym(partial, "open"), nullptr) << "dlsym reaches the C library through it";
  EXPECT_EQ(OwnSymbol(partial, "open"), nullptr);
  EXPECT_EQ(OwnSymbol(partial, "no_such_entry_point"), nullptr);
  EXPECT_EQ(OwnSymbol(partial, "get_status"), ::dlsym(partial, "get_status"));
  ::dlclose(partial);
}

TEST(VendorLibrary, UsbLibraryWithoutItsOwnOpenReadWriteCloseIsNotLoaded) {
  TScopedEnv env("ONDREVO_USB_LIBRARY", ONDREVO_TEST_USB_PARTIAL);
  try {
    TUsbInterface usb;
    FAIL() << "a library taking open/read/write/close from the C library was accepted";
  } catch (const ENotInstalledError& e) {
    EXPECT_STREQ(e.what(), "USB driver could not be loaded");
  }
}

TEST(VendorLibrary, GpibLibraryWhoseEntryPointsLiveInADependencyIsNotLoaded) {
  if (::dlopen("libgpib.so.0", RTLD_NOW | RTLD_NOLOAD) || ::dlopen("libni4882.so", RTLD_NOW))
    GTEST_SKIP() << "a GPIB library is installed";
  {
    TScopedEnv env("ONDREVO_GPIB_LIBRARY", ONDREVO_TEST_VENDOR_FULL);
    EXPECT_NE(TGpibLibrary::Acquire(), nullptr) << "the same names defined by the library itself";
  }
  TScopedEnv env("ONDREVO_GPIB_LIBRARY", ONDREVO_TEST_VENDOR_PARTIAL);
  EXPECT_THROW(TGpibLibrary::Acquire(), ENotInstalledError);
}

}  // namespace
}  // namespace ondrevo
