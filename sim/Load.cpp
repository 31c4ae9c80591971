#include "sim/Load.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <stdexcept>

#include "document/Numbers.h"

namespace ondrevo::sim {

namespace {

std::string Lower(std::string_view text) {
  std::string s(text);
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// A number with an optional SI prefix and the unit (optional too).
double Quantity(std::string_view text, std::string_view unit, const char* what) {
  std::string s = Lower(text);
  if (s.size() >= unit.size() && s.compare(s.size() - unit.size(), unit.size(), unit) == 0)
    s.resize(s.size() - unit.size());
  double scale = 1;
  if (!s.empty()) {
    switch (s.back()) {
      case 'p':
        scale = 1e-12;
        break;
      case 'n':
        scale = 1e-9;
        break;
      case 'u':
        scale = 1e-6;
        break;
      case 'm':
        scale = 1e-3;
        break;
      case 'k':
        scale = 1e3;
        break;
      default:
        scale = 0;
        break;
    }
    if (scale != 0)
      s.pop_back();
    else
      scale = 1;
  }
  double value = 0;
  if (!TryParseNumber(s, value) || !std::isfinite(value))
    throw std::invalid_argument(std::string("the load's ") + what + " is not a number: \"" +
                                std::string(text) + "\"");
  return value * scale;
}

}  // namespace

TLoad ParseLoad(std::string_view text) {
  TLoad load;
  const std::size_t comma = text.find(',');
  load.Resistance = Quantity(text.substr(0, comma), "ohm", "resistance");
  if (!(load.Resistance > 0))
    throw std::invalid_argument("the load's resistance must be greater than 0 ohm");
  if (comma != std::string_view::npos) {
    load.Capacitance = Quantity(text.substr(comma + 1), "f", "capacitance");
    if (!(load.Capacitance >= 0))
      throw std::invalid_argument("the load's capacitance must not be negative");
  }
  return load;
}

TLoadReading LoadAt(const std::vector<TOutputChange>& changes, int channel, double time,
                    const TLoad& load) {
  TLoadReading r;
  if (!load.Present()) return r;
  const double tau = load.Resistance * load.Capacitance;
  double v = 0, since = 0, target = 0;
  bool started = false;
  TOutputState state;
  auto settle = [&](double until) {
    if (!started) return;
    v = tau > 0 ? target + (v - target) * std::exp(-(until - since) / tau) : target;
  };
  for (const TOutputChange& c : changes) {
    if (c.Channel != channel) continue;
    if (c.Time > time) break;
    settle(c.Time);
    started = true;
    since = c.Time;
    state = c.State;
    const double limited = std::max(state.CurrentLimit, 0.0) * load.Resistance;
    target = state.On ? std::clamp(state.Voltage, 0.0, std::max(limited, 0.0)) : 0.0;
  }
  settle(time);
  r.On = state.On;
  r.Voltage = v;
  r.Current = state.On ? target / load.Resistance : 0.0;
  r.Limited = state.On && state.CurrentLimit * load.Resistance < state.Voltage;
  return r;
}

}  // namespace ondrevo::sim
