// Waveforms and an event recorder shared by the driver transcript tests.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "devices/MainThread.h"
#include "devices/supplies/ListPlayerDevice.h"
#include "document/SegmentTable.h"
#include "model/Builder.h"
#include "supplies/ScriptedTransport.h"

namespace ondrevo::testing {

inline SegmentRow TablePoint(double t, double v) {
  SegmentRow row;
  row.Time = t;
  row.Value = v;
  return row;
}

// `levels` held levels of `hold` seconds each: one instrument point per level.
inline std::shared_ptr<TWaveform> Staircase(int levels, double first, double step,
                                            double hold = 0.1) {
  SegmentTable table;
  int row = 0;
  for (int k = 0; k < levels; ++k) {
    table[row++] = TablePoint(k * hold, first + k * step);
    table[row++] = TablePoint((k + 1) * hold, first + k * step);
  }
  table.SetLastPointIndex(row - 1);
  return BuildWaveform(table);
}

inline std::shared_ptr<TWaveform> Constant(double duration, double value) {
  SegmentTable table;
  table[0] = TablePoint(0.0, value);
  table[1] = TablePoint(duration, value);
  table.SetLastPointIndex(1);
  return BuildWaveform(table);
}

// Records the player events of one device in the order they arrive.
struct TEventLog {
  std::vector<std::string> log;
  std::vector<int> uploadProgress, playProgress, bursts;
  std::string lastError;

  void Attach(TListPlayerDevice& device) {
    device.SetOnUploadProgress([this](IDevice*, int p) { uploadProgress.push_back(p); });
    device.SetOnPlayProgress([this](IDevice*, int p) { playProgress.push_back(p); });
    device.SetOnBurst([this](IDevice*, int n) {
      bursts.push_back(n);
      log.push_back("burst " + std::to_string(n));
    });
    device.SetOnUploadDone([this](IDevice*) { log.push_back("done"); });
    device.SetOnError([this](IDevice*, const std::exception& e) {
      lastError = e.what();
      log.push_back("error");
    });
    device.SetOnPlay([this](IDevice*) { log.push_back("play"); });
    device.SetOnStop([this](IDevice*) { log.push_back("stop"); });
    device.SetOnConnect([this](IDevice*) { log.push_back("connect"); });
    device.SetOnDisconnect([this](IDevice*) { log.push_back("disconnect"); });
  }
};

// Waits, pumping the event queue, until the device's threads have ended.
inline bool WaitForThreads(TEventQueue& queue, const TListPlayerDevice& device) {
  using namespace std::chrono_literals;
  return queue.PumpUntil([&] { return !device.HasRunningThreads(); }, 20s);
}

}  // namespace ondrevo::testing
