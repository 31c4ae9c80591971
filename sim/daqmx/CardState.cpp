// The simulated cards' state and the sample clocks, evaluated lazily.
#include "sim/daqmx/CardState.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace ondrevo::daqsim {

Sim& S() {
  static Sim* sim = [] {
    auto* s = new Sim;  // never destroyed: threads may call in during exit
    if (const char* dir = std::getenv("ONDREVO_SIM_RECORD")) s->recordFolder = dir;
    return s;
  }();
  return *sim;
}

double CardSeconds(const Sim& sim, Clock::time_point at) {
  return sim.cardSecondsAtBase +
         std::chrono::duration<double>(at - sim.clockBase).count() * sim.speed;
}

std::string Shortest(double v) {
  if (v == 0) return "0";
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

ChannelFile* FileOf(Sim& sim, const std::string& channel) {
  if (sim.recordFolder.empty()) return nullptr;
  auto it = sim.files.find(channel);
  if (it != sim.files.end()) return it->second.file ? &it->second : nullptr;
  ChannelFile& f = sim.files[channel];
  std::string card = channel.substr(0, channel.find('/'));
  std::string flat = channel;
  std::replace(flat.begin(), flat.end(), '/', '_');
  const auto ao = channel.find("/ao");
  f.index = ao == std::string::npos ? 0 : std::atoi(channel.c_str() + ao + 3);
  f.file = std::fopen((sim.recordFolder + "/" + card + "-" + flat + ".csv").c_str(), "w");
  if (!f.file) return nullptr;  // nowhere to record: the output goes on unrecorded
  std::fputs("time_s,channel,voltage_V,current_limit_A,output\n", f.file);
  std::fflush(f.file);
  return &f;
}

void NoteChange(ChannelFile& f, double time, double value, bool on) {
  if (f.written && f.value == value && f.on == on) return;
  time = std::max(time, f.time);  // a line never goes back in time
  const std::string line = Shortest(time) + "," + std::to_string(f.index) + "," + Shortest(value) +
                           ",0," + (on ? "1" : "0") + "\n";
  std::fputs(line.c_str(), f.file);
  std::fflush(f.file);
  f.written = true;
  f.value = value;
  f.time = time;
  f.on = on;
}

// The task lets go of its channels: they hold their value, undriven.
void Release(Sim& sim, Task& t, Clock::time_point now) {
  if (!t.driven) return;
  t.driven = false;
  for (const auto& ch : t.ao)
    if (ChannelFile* f = FileOf(sim, ch); f && f->on)
      NoteChange(*f, CardSeconds(sim, now), f->value, false);
}

std::string& LastError() {
  thread_local std::string text;
  return text;
}

int32 Fail(int32 code, const std::string& text) {
  LastError() = text;
  return code;
}

std::vector<std::string> Split(const std::string& text, char sep) {
  std::vector<std::string> out;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, sep)) {
    part.erase(0, part.find_first_not_of(" \t"));
    part.erase(part.find_last_not_of(" \t\r") + 1);
    if (!part.empty()) out.push_back(part);
  }
  return out;
}

bool ParseDouble(const std::string& s, double& v) {
  auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

int ConfigureLocked(Sim& sim, const std::string& text) {
  std::map<std::string, Card> cards;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    Card c;
    if (!(words >> c.name) || c.name[0] == '#') continue;
    if (!(words >> c.product)) return -1;
    c.serial = 0x1A2B000 + static_cast<uint32_t>(cards.size());
    std::string kv;
    while (words >> kv) {
      auto eq = kv.find('=');
      if (eq == std::string::npos) return -1;
      std::string key = kv.substr(0, eq), value = kv.substr(eq + 1);
      double d = 0;
      if (key == "serial") {
        c.serial = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 16));
      } else if (key == "ranges") {
        c.ranges.clear();
        for (auto& p : Split(value, ',')) {
          if (!ParseDouble(p, d)) return -1;
          c.ranges.push_back(d);
        }
      } else if (ParseDouble(value, d)) {
        if (key == "ao")
          c.ao = static_cast<int>(d);
        else if (key == "maxrate")
          c.maxRate = d;
        else if (key == "minrate")
          c.minRate = d;
        else if (key == "dilines")
          c.diLines = static_cast<int>(d);
        else if (key == "pfi")
          c.pfi = static_cast<int>(d);
        else
          return -1;
      } else {
        return -1;
      }
    }
    cards[c.name] = c;
  }
  sim.cards = std::move(cards);
  sim.recordings.clear();
  sim.configured = true;
  return 0;
}

void EnsureConfigured(Sim& sim) {
  if (sim.configured) return;
  if (const char* speed = std::getenv("ONDREVO_DAQMX_SIM_SPEED")) {
    double d = 0;
    if (ParseDouble(speed, d) && d > 0) sim.speed = d;
  }
  if (const char* cards = std::getenv("ONDREVO_DAQMX_SIM_CARDS")) {
    std::string text = cards;
    std::replace(text.begin(), text.end(), ';', '\n');
    if (ConfigureLocked(sim, text) == 0) return;
  }
  if (const char* path = std::getenv("ONDREVO_DAQMX_SIM_CONFIG")) {
    std::ifstream f(path);
    std::stringstream text;
    text << f.rdbuf();
    if (f && ConfigureLocked(sim, text.str()) == 0) return;
  }
  ConfigureLocked(sim, "Dev1 PCIe-6361 serial=1A2B3C4 ao=2 maxrate=2000000 minrate=0.1\n");
}

std::string CardOf(const std::string& channel) {
  std::string c = channel;
  if (!c.empty() && c[0] == '/') c.erase(0, 1);
  return c.substr(0, c.find('/'));
}

Card* FindCard(Sim& sim, const std::string& name) {
  auto it = sim.cards.find(name);
  return it == sim.cards.end() ? nullptr : &it->second;
}

Task* FindTask(Sim& sim, TaskHandle h) {
  auto it = sim.tasks.find(h);
  return it == sim.tasks.end() ? nullptr : it->second.get();
}

// Samples the clock has taken since the start; frozen while the card stalls.
uint64_t Due(Sim& sim, Task& t, Clock::time_point now) {
  if (t.state != State::Running) return t.consumed;
  Card* card = FindCard(sim, t.card);
  if (card && card->stalled) now = std::min(now, card->stalledAt);
  const double seconds = std::chrono::duration<double>(now - t.t0 - t.stalledFor).count();
  if (seconds <= 0) return 0;
  return static_cast<uint64_t>(std::floor(seconds * t.rate * sim.speed));
}

// `first` is the index of v[0] on the task's sample clock, -1 for on-demand output now.
void Record(Sim& sim, Task& t, const std::string& channel, const double* v, size_t n,
            int64_t first) {
  if (n == 0) return;
  if (ChannelFile* f = FileOf(sim, channel)) {
    const double now = CardSeconds(sim, Clock::now());
    for (size_t i = 0; i < n; ++i)
      NoteChange(*f, first < 0 ? now : t.cardT0 + static_cast<double>(first + int64_t(i)) / t.rate,
                 v[i], true);
  }
  t.driven = true;
  Recording& r = sim.recordings[channel];
  const uint64_t room = r.samples.size() < sim.recordLimit ? sim.recordLimit - r.samples.size() : 0;
  r.samples.insert(r.samples.end(), v, v + std::min<uint64_t>(room, n));
  r.count += n;
  r.last = v[n - 1];
}

// Moves what the clock has output by now from the buffer to the recording.
void Advance(Sim& sim, Task& t, Clock::time_point now) {
  if (t.state != State::Running) return;
  const uint64_t due = Due(sim, t, now);
  const uint64_t take = std::min(due, t.written) - std::min(t.consumed, t.written);
  if (take > 0) {
    for (size_t c = 0; c < t.ao.size(); ++c)
      Record(sim, t, t.ao[c], t.pending[c].data() + t.head, take, static_cast<int64_t>(t.consumed));
    t.head += take;
    t.consumed += take;
    if (t.head > (1u << 20) && t.head * 2 > t.pending[0].size()) {
      for (auto& p : t.pending) p.erase(p.begin(), p.begin() + static_cast<ptrdiff_t>(t.head));
      t.head = 0;
    }
  }
  if (due > t.written && !t.underrun) {
    t.underrun = true;
    if (Card* card = FindCard(sim, t.card)) ++card->underruns;
  }
}

void ResetBuffer(Task& t) {
  t.pending.assign(t.ao.size(), {});
  t.head = 0;
  t.written = t.consumed = 0;
  t.underrun = false;
  t.stalledFor = {};
}

void StartClock(Sim& sim, Task& t, Clock::time_point now) {
  t.state = State::Running;
  t.t0 = now;
  t.cardT0 = CardSeconds(sim, now);
}

// The library's message for a value it does not take: names the property and what it allows.
int32 BadValue(const std::string& property, const std::string& requested,
               const std::string& allowed) {
  return Fail(kErrBadValue,
              "Requested value is not a supported value for this property.\nProperty: " + property +
                  "\nRequested Value: " + requested + "\n" + allowed);
}

int32 CheckCard(Sim& sim, const std::string& name) {
  Card* card = FindCard(sim, name);
  if (!card) return Fail(kErrBadChannel, "Device " + name + " does not exist.");
  if (card->removed) return Fail(kErrDeviceGone, "Device " + name + " has been removed.");
  return 0;
}

int32 CopyText(const std::string& text, char* data, uInt32 size) {
  if (!data || size == 0) return static_cast<int32>(text.size() + 1);
  std::strncpy(data, text.c_str(), size - 1);
  data[size - 1] = '\0';
  return 0;
}

std::string Joined(const std::vector<std::string>& parts) {
  std::string out;
  for (auto& p : parts) out += (out.empty() ? "" : ", ") + p;
  return out;
}

}  // namespace ondrevo::daqsim
