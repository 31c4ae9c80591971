// The simulated card library as the tests steer it: the same copy the program loads through
// ONDREVO_DAQMX_LIBRARY, reached with dlsym.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace ondrevo::test {

struct DaqSim {
  int (*Configure)(const char*) = nullptr;
  void (*SetSpeed)(double) = nullptr;
  void (*FireTrigger)(const char*, int) = nullptr;
  void (*RemoveCard)(const char*) = nullptr;
  void (*StallCard)(const char*, int) = nullptr;
  void (*SetRecordLimit)(uint64_t) = nullptr;
  void (*SetRecordFolder)(const char*) = nullptr;
  uint64_t (*SamplesRaw)(const char*, double*, uint64_t) = nullptr;
  double (*LastValue)(const char*) = nullptr;
  int (*Underruns)(const char*) = nullptr;
  int (*StartTriggerEdge)(const char*) = nullptr;
  int (*OpenTasks)() = nullptr;
  void (*ClearRecording)() = nullptr;

  std::vector<double> Samples(const char* channel) const {
    std::vector<double> out(SamplesRaw(channel, nullptr, 0));
    SamplesRaw(channel, out.data(), out.size());
    return out;
  }

  // Points the program at the simulated library and keeps it loaded.
  static DaqSim& Get() {
    static DaqSim sim = [] {
      setenv("ONDREVO_DAQMX_LIBRARY", ONDREVO_DAQMX_SIM, 1);
      DaqSim s;
      void* h = dlopen(ONDREVO_DAQMX_SIM, RTLD_NOW | RTLD_LOCAL);
      if (!h) ADD_FAILURE() << dlerror();
      auto get = [h](auto& fn, const char* name) {
        fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(h, name));
        if (!fn) ADD_FAILURE() << "missing " << name;
      };
      get(s.Configure, "OndrevoDaqSimConfigure");
      get(s.SetSpeed, "OndrevoDaqSimSetSpeed");
      get(s.FireTrigger, "OndrevoDaqSimFireTrigger");
      get(s.RemoveCard, "OndrevoDaqSimRemoveCard");
      get(s.StallCard, "OndrevoDaqSimStallCard");
      get(s.SetRecordLimit, "OndrevoDaqSimSetRecordLimit");
      get(s.SetRecordFolder, "OndrevoDaqSimSetRecordFolder");
      get(s.SamplesRaw, "OndrevoDaqSimSamples");
      get(s.LastValue, "OndrevoDaqSimLastValue");
      get(s.Underruns, "OndrevoDaqSimUnderruns");
      get(s.StartTriggerEdge, "OndrevoDaqSimStartTriggerEdge");
      get(s.OpenTasks, "OndrevoDaqSimOpenTasks");
      get(s.ClearRecording, "OndrevoDaqSimClearRecording");
      return s;
    }();
    return sim;
  }
};

}  // namespace ondrevo::test
