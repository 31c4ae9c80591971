#include "daq/DaqTrace.h"

#include <algorithm>
#include <cmath>

#include "daq/DaqMxLibrary.h"
#include "devices/DeviceErrors.h"
#include "document/Numbers.h"

namespace ondrevo {

namespace {

// Six significant digits: a write's range is for reading, not for reproducing the samples.
std::string Brief(double value) {
  if (value == 0.0 || !std::isfinite(value)) return FormatGeneral(value);
  const double scale = std::pow(10.0, 5 - std::floor(std::log10(std::fabs(value))));
  return std::isfinite(scale) ? FormatGeneral(std::nearbyint(value * scale) / scale)
                              : FormatGeneral(value);
}

}  // namespace

TDaqTrace::TDaqTrace(std::shared_ptr<TDaqMxLibrary> lib) : lib_(std::move(lib)) {
  Name = "NI-DAQmx";
}

std::int32_t TDaqTrace::Call(const std::string& call, const std::function<std::int32_t()>& fn) {
  Trace("> ", call);
  const std::int32_t status = fn();
  if (status < 0) Trace("< ", "error: " + lib_->ErrorText(status));
  return status;
}

void TDaqTrace::Check(const std::string& call, const std::function<std::int32_t()>& fn) {
  const std::int32_t status = Call(call, fn);
  if (status < 0) throw EInterfaceError(lib_->ErrorText(status));
}

std::string DescribeDaqChannel(const std::string& channel, double min, double max) {
  return "channel " + channel + ", range " + FormatGeneral(min) + " .. " + FormatGeneral(max) +
         " V";
}

std::string DescribeDaqWrite(const double* samples, std::size_t count, std::size_t channels) {
  std::string text = "write " + std::to_string(count) + (count == 1 ? " sample" : " samples");
  if (channels > 1) text += " x " + std::to_string(channels) + " channels";
  if (count == 0) return text;
  const auto [lo, hi] =
      std::minmax_element(samples, samples + count * std::max<std::size_t>(channels, 1));
  return text + " [" + Brief(*lo) + " .. " + Brief(*hi) + "]";
}

}  // namespace ondrevo
