// The command log of an analog output card. A card has no command language: what it is told are
// the driver's calls into the library, recorded here in a readable, stable form through the
// trace of TInterface, so the Commands page and --trace show a card like any supply:
// "> " + a call (task, channel, timing, trigger, start, stop, a summary of each write),
// "< error: " + the library's message when a call fails.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "devices/Interface.h"

namespace ondrevo {

class TDaqMxLibrary;

class TDaqTrace : public TSilentInterface {
 public:
  explicit TDaqTrace(std::shared_ptr<TDaqMxLibrary> lib);

  // Records "> " + call, makes the call, records a failure; returns the call's status.
  std::int32_t Call(const std::string& call, const std::function<std::int32_t()>& fn);
  // As Call, raising EInterfaceError with the library's message for a failure.
  void Check(const std::string& call, const std::function<std::int32_t()>& fn);
  // Whether anybody reads the log (a write's summary costs a pass over its samples).
  bool Observed() { return HasTraceObserver(); }

 private:
  std::shared_ptr<TDaqMxLibrary> lib_;
};

// "channel Dev1/ao0, range -10 .. 10 V": an output channel as the driver creates it.
std::string DescribeDaqChannel(const std::string& channel, double min = -10.0, double max = 10.0);
// "write 4000 samples [0 .. 2.5]": what a write puts out, never the samples themselves.
std::string DescribeDaqWrite(const double* samples, std::size_t count, std::size_t channels);

}  // namespace ondrevo
