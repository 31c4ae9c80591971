#include "sim/Meter.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "document/Numbers.h"

namespace ondrevo::sim {

namespace {

std::string Upper(std::string_view text) {
  std::string s;
  for (char c : text)
    if (!std::isspace(static_cast<unsigned char>(c)))
      s += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// Long and short SCPI forms of the headers the meter knows, reduced to the short ones.
std::string Short(std::string h) {
  for (const auto& [longForm, shortForm] : {std::pair<const char*, const char*>{"MEASURE", "MEAS"},
                                            {"VOLTAGE", "VOLT"},
                                            {"CURRENT", "CURR"},
                                            {"SYSTEM", "SYST"},
                                            {"ERROR", "ERR"}}) {
    for (std::size_t at = h.find(longForm); at != std::string::npos; at = h.find(longForm))
      h.replace(at, std::string_view(longForm).size(), shortForm);
  }
  return h;
}

}  // namespace

TLoadReading ReadTerminals(TSimInstrument& supply, int channel, double now) {
  supply.SettleOutput();
  return LoadAt(supply.Output().Changes(), channel, now, supply.Load());
}

TMeterNoise ParseNoise(std::string_view text) {
  TMeterNoise noise;
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    std::string part = Upper(text.substr(0, comma));
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    if (part.empty()) continue;
    const char unit = part.back();
    part.pop_back();
    double value = 0;
    if ((unit != 'V' && unit != 'A') || !TryParseNumber(part, value) || !(value >= 0))
      throw std::invalid_argument("the noise is given as e.g. 0.01V,0.001A");
    (unit == 'V' ? noise.Voltage : noise.Current) = value;
  }
  return noise;
}

TSimMeter::TSimMeter(std::shared_ptr<TSimInstrument> supply, int channel, TSimClock clock,
                     TMeterNoise noise, std::string serial)
    : TSimInstrument(ModelName, serial, "1.00"),
      serial_(std::move(serial)),
      supply_(std::move(supply)),
      channel_(channel),
      clock_(std::move(clock)),
      noise_(noise),
      random_(noise.Seed) {}

std::string TSimMeter::IdentificationReply() const {
  return "SIMLAB,DMM-100," + serial_ + ",1.00";
}

std::string TSimMeter::Measure(bool voltage) {
  const TLoadReading r = ReadTerminals(*supply_, channel_, clock_());
  double value = voltage ? r.Voltage : r.Current;
  const double sigma = voltage ? noise_.Voltage : noise_.Current;
  if (sigma > 0) value += std::normal_distribution<double>(0.0, sigma)(random_);
  return FormatShortest(value);
}

std::optional<std::string> TSimMeter::Process(std::string_view line) {
  std::vector<std::string> replies;
  std::size_t start = 0;
  while (start <= line.size()) {
    const std::size_t end = std::min(line.find(';', start), line.size());
    const std::string h = Short(Upper(line.substr(start, end - start)));
    start = end + 1;
    if (h.empty()) continue;
    if (h == "*IDN?")
      replies.push_back(IdentificationReply());
    else if (h == "MEAS:VOLT:DC?" || h == "MEAS:VOLT?")
      replies.push_back(Measure(true));
    else if (h == "MEAS:CURR:DC?" || h == "MEAS:CURR?")
      replies.push_back(Measure(false));
    else if (h == "SYST:ERR?") {
      replies.push_back(errors_.empty() ? "0,\"No error\"" : errors_.front());
      if (!errors_.empty()) errors_.erase(errors_.begin());
    } else if (h == "*RST" || h == "*CLS" || h == "SYST:REM")
      continue;
    else if (errors_.size() < 20)
      errors_.push_back("-113,\"Undefined header\"");
  }
  if (replies.empty()) return std::nullopt;
  std::string reply = replies[0];
  for (std::size_t k = 1; k < replies.size(); ++k) reply += ";" + replies[k];
  return reply;
}

}  // namespace ondrevo::sim
