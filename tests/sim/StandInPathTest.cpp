// Where the programs look for the stand-in libraries and the USB monitor.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "sim/BusHost.h"

namespace fs = std::filesystem;
using ondrevo::sim::FindSimFile;

namespace {

class StandInPath : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/ondrevo-standin-XXXXXX";
    ASSERT_NE(::mkdtemp(name), nullptr);
    root_ = name;
    fs::create_directories(root_ / "usr/bin");
    fs::create_directories(root_ / "build/sim");
    program_ = (root_ / "usr/bin/ondrevo-cli").string();
    built_ = (root_ / "build/sim/libondrevo-gpib-sim.so").string();
    installed_ = (root_ / "usr" / ONDREVO_SIM_INSTALL_SUBDIR / "libondrevo-gpib-sim.so").string();
  }
  void TearDown() override { fs::remove_all(root_); }
  static void Touch(const std::string& path) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << "x";
  }

  fs::path root_;
  std::string program_, built_, installed_;
};

TEST_F(StandInPath, InstalledBesideTheProgramWinsOverTheBuild) {
  Touch(built_);
  Touch(installed_);
  EXPECT_EQ(FindSimFile(program_, "libondrevo-gpib-sim.so", built_), installed_);
}

TEST_F(StandInPath, TheBuildServesWhenNothingIsInstalled) {
  Touch(built_);
  EXPECT_EQ(FindSimFile(program_, "libondrevo-gpib-sim.so", built_), built_);
  // A package build compiles in no build path: the installed place is then named.
  EXPECT_EQ(FindSimFile(program_, "libondrevo-gpib-sim.so", ""), installed_);
}

TEST_F(StandInPath, NeitherFoundNamesTheInstalledPlace) {
  EXPECT_EQ(FindSimFile(program_, "libondrevo-gpib-sim.so", built_), installed_);
  EXPECT_EQ(FindSimFile("", "libondrevo-gpib-sim.so", built_), built_);
  EXPECT_THROW(ondrevo::sim::TGpibSimHost host(FindSimFile(program_, "libondrevo-gpib-sim.so", "")),
               std::runtime_error);
}

TEST(StandInPathBuildTree, ThisBuildsStandInsAreFound) {
  // Run from the build tree, nothing is installed beside the test: every path exists.
  for (const std::string& path :
       {ondrevo::sim::GpibSimLibraryPath(), ondrevo::sim::UsbSimLibraryPath(),
        ondrevo::sim::UsbMonitorPath(), ondrevo::sim::DaqMxSimLibraryPath()})
    EXPECT_TRUE(fs::exists(path)) << path;
}

}  // namespace
