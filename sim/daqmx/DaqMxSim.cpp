// A stand-in for the DAQmx C library: cards from a small configuration, tasks whose sample clock
// consumes the written samples in (scalable) real time, and a recording of everything output.
// Time is evaluated lazily: whenever a call looks at a task, the samples its clock has taken
// since the start move from the buffer to the recording.
#include "sim/daqmx/DaqMxSim.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using int32 = int32_t;
using uInt32 = uint32_t;
using uInt64 = uint64_t;
using float64 = double;
using bool32 = uInt32;
using TaskHandle = void*;
using SignalCallback = int32 (*)(TaskHandle, int32, void*);

namespace {

constexpr int32 kErrWriteTimeout = -200292;  // samples could not be written yet
constexpr int32 kErrUnderrun = -200290;      // generation stopped: no new samples in time
constexpr int32 kErrDeviceGone = -88705;     // device not present
constexpr int32 kErrBadTask = -200088;       // task handle invalid
constexpr int32 kErrBadChannel = -200170;    // physical channel does not exist
constexpr int32 kErrBuffer = -200228;        // buffer too small for the write
constexpr int32 kErrBadValue = -200077;      // requested value is not supported
// The C reference's values, kept apart from the program's own.
constexpr int32 kValVolts = 10348;
constexpr int32 kValRising = 10280;
constexpr int32 kValFalling = 10171;
constexpr int32 kValContSamps = 10123;
constexpr int32 kValChangeDetectionEvent = 12511;
constexpr int32 kValGroupByChannel = 0;
constexpr int32 kValGroupByScanNumber = 1;
constexpr int32 kValChanPerLine = 0;
constexpr int32 kValChanForAllLines = 1;
constexpr int32 kValDoNotInvertPolarity = 0;
constexpr int32 kValInvertPolarity = 1;

using Clock = std::chrono::steady_clock;

struct Card {
  std::string name, product;
  uint32_t serial = 0;
  int ao = 2, diLines = 8, pfi = 16;
  double maxRate = 1000000, minRate = 0.1;
  std::vector<double> ranges{-10, 10};
  bool removed = false;
  bool stalled = false;
  Clock::time_point stalledAt;
  int underruns = 0;
  std::set<std::pair<std::string, std::string>> routes;
};

struct Recording {
  std::vector<double> samples;
  uint64_t count = 0;
  double last = 0.0;
};

// A channel's recording as CSV, one line per change (the supplies' column format):
// time_s,channel,voltage_V,current_limit_A,output. The current limit is always 0; output is 1
// while a task drives the channel.
struct ChannelFile {
  std::FILE* file = nullptr;
  int index = 0;  // the N of aoN
  double value = 0.0, time = 0.0;
  bool on = false, written = false;
};

enum class State { Idle, Armed, Running };

struct Task {
  std::vector<std::string> ao;  // physical channels, in order
  std::string card;
  std::vector<std::string> diRising, diFalling;
  bool changeDetection = false;
  SignalCallback callback = nullptr;
  void* callbackData = nullptr;
  bool clocked = false;
  double rate = 0.0;
  uint64_t bufferSize = 0;
  bool startTrigger = false;
  int32 startEdge = 0;
  std::string triggerSource;
  State state = State::Idle;
  Clock::time_point t0;
  double cardT0 = 0.0;           // t0 on the card's clock, seconds
  Clock::duration stalledFor{};  // clock standstill since t0, not counted
  bool driven = false;           // has output a value since its start
  uint64_t written = 0, consumed = 0;
  std::vector<std::vector<double>> pending;  // per channel, from `head` on
  size_t head = 0;
  bool underrun = false;
  bool diStarted = false;
};

struct Sim {
  std::mutex lock;
  std::condition_variable changed;
  std::map<std::string, Card> cards;
  std::map<std::string, Recording> recordings;
  std::map<TaskHandle, std::unique_ptr<Task>> tasks;
  double speed = 1.0;
  uint64_t recordLimit = 50'000'000;
  bool configured = false;
  uintptr_t nextHandle = 0x1000;
  // The card's clock runs `speed` times real time: seconds at `clockBase`, counted from there.
  Clock::time_point clockBase = Clock::now();
  double cardSecondsAtBase = 0.0;
  std::string recordFolder;
  std::map<std::string, ChannelFile> files;
};

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
void Release(Sim& sim, Task& t, Clock::time_point now = Clock::now()) {
  if (!t.driven) return;
  t.driven = false;
  for (const auto& ch : t.ao)
    if (ChannelFile* f = FileOf(sim, ch); f && f->on)
      NoteChange(*f, CardSeconds(sim, now), f->value, false);
}

thread_local std::string tLastError;

int32 Fail(int32 code, const std::string& text) {
  tLastError = text;
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
void Advance(Sim& sim, Task& t, Clock::time_point now = Clock::now()) {
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

void StartClock(Sim& sim, Task& t, Clock::time_point now = Clock::now()) {
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

#define SIM_LOCK                    \
  Sim& sim = S();                   \
  std::unique_lock guard(sim.lock); \
  EnsureConfigured(sim)

#define CARD_OR_FAIL(name)                                 \
  if (int32 st = CheckCard(sim, name); st != 0) return st; \
  [[maybe_unused]] Card& card = *FindCard(sim, name)

}  // namespace

extern "C" {

int32 DAQmxGetExtendedErrorInfo(char errorString[], uInt32 bufferSize) {
  return CopyText(tLastError, errorString, bufferSize);
}

int32 DAQmxGetSysDevNames(char* data, uInt32 bufferSize) {
  SIM_LOCK;
  std::vector<std::string> names;
  for (auto& [name, card] : sim.cards)
    if (!card.removed) names.push_back(name);
  return CopyText(Joined(names), data, bufferSize);
}

int32 DAQmxGetDevProductType(const char device[], char* data, uInt32 bufferSize) {
  SIM_LOCK;
  CARD_OR_FAIL(device);
  return CopyText(card.product, data, bufferSize);
}

int32 DAQmxGetDevSerialNum(const char device[], uInt32* data) {
  SIM_LOCK;
  CARD_OR_FAIL(device);
  *data = card.serial;
  return 0;
}

int32 DAQmxGetDevAOPhysicalChans(const char device[], char* data, uInt32 bufferSize) {
  SIM_LOCK;
  CARD_OR_FAIL(device);
  std::vector<std::string> chans;
  for (int i = 0; i < card.ao; ++i) chans.push_back(card.name + "/ao" + std::to_string(i));
  return CopyText(Joined(chans), data, bufferSize);
}

int32 DAQmxGetDevAOMaxRate(const char device[], float64* data) {
  SIM_LOCK;
  CARD_OR_FAIL(device);
  *data = card.maxRate;
  return 0;
}

int32 DAQmxGetDevAOMinRate(const char device[], float64* data) {
  SIM_LOCK;
  CARD_OR_FAIL(device);
  *data = card.minRate;
  return 0;
}

int32 DAQmxGetDevAOVoltageRngs(const char device[], float64* data, uInt32 arraySizeInElements) {
  SIM_LOCK;
  CARD_OR_FAIL(device);
  if (!data || arraySizeInElements == 0) return static_cast<int32>(card.ranges.size());
  for (uInt32 i = 0; i < arraySizeInElements; ++i)
    data[i] = i < card.ranges.size() ? card.ranges[i] : 0.0;
  return 0;
}

int32 DAQmxGetDevDILines(const char device[], char* data, uInt32 bufferSize) {
  SIM_LOCK;
  CARD_OR_FAIL(device);
  std::vector<std::string> lines;
  for (int i = 0; i < card.diLines; ++i)
    lines.push_back(card.name + "/port" + std::to_string(i / 8) + "/line" + std::to_string(i % 8));
  return CopyText(Joined(lines), data, bufferSize);
}

int32 DAQmxGetDevTerminals(const char device[], char* data, uInt32 bufferSize) {
  SIM_LOCK;
  CARD_OR_FAIL(device);
  std::vector<std::string> terms;
  for (int i = 0; i < card.pfi; ++i) terms.push_back("/" + card.name + "/PFI" + std::to_string(i));
  terms.push_back("/" + card.name + "/ChangeDetectionEvent");
  return CopyText(Joined(terms), data, bufferSize);
}

int32 DAQmxCreateTask(const char taskName[], TaskHandle* taskHandle) {
  SIM_LOCK;
  TaskHandle h = reinterpret_cast<TaskHandle>(sim.nextHandle++);
  sim.tasks[h] = std::make_unique<Task>();
  *taskHandle = h;
  return 0;
}

int32 DAQmxClearTask(TaskHandle task) {
  SIM_LOCK;
  Task* t = FindTask(sim, task);
  if (!t) return Fail(kErrBadTask, "Task handle is invalid.");
  Advance(sim, *t);
  Release(sim, *t);
  sim.tasks.erase(task);
  sim.changed.notify_all();
  return 0;
}

int32 DAQmxCreateAOVoltageChan(TaskHandle task, const char physicalChannel[], const char[],
                               float64 minVal, float64 maxVal, int32 units,
                               const char customScaleName[]) {
  SIM_LOCK;
  Task* t = FindTask(sim, task);
  if (!t) return Fail(kErrBadTask, "Task handle is invalid.");
  const std::string ch = physicalChannel;
  const std::string cardName = CardOf(ch);
  CARD_OR_FAIL(cardName);
  const auto slash = ch.find("/ao");
  if (slash == std::string::npos || std::atoi(ch.c_str() + slash + 3) >= card.ao)
    return Fail(kErrBadChannel, "Physical channel " + ch + " does not exist.");
  // Volts only: a custom scale would need a scale this card does not have.
  if (units != kValVolts)
    return BadValue(
        "DAQmx_AO_Voltage_Units",
        std::to_string(units) +
            (customScaleName && *customScaleName ? std::string(" (") + customScaleName + ")" : ""),
        "Possible Values: DAQmx_Val_Volts (10348)\nChannel Name: " + ch);
  // The range asked for must lie within one of the card's output ranges.
  if (!(minVal < maxVal))
    return BadValue("DAQmx_AO_Min", Shortest(minVal),
                    "Maximum Value: " + Shortest(maxVal) + "\nChannel Name: " + ch);
  bool fits = false;
  double lo = 0, hi = 0;
  for (size_t i = 0; i + 1 < card.ranges.size(); i += 2) {
    lo = std::min(lo, card.ranges[i]);
    hi = std::max(hi, card.ranges[i + 1]);
    fits = fits || (card.ranges[i] <= minVal && maxVal <= card.ranges[i + 1]);
  }
  if (!fits)
    return BadValue(minVal < lo ? "DAQmx_AO_Min" : "DAQmx_AO_Max",
                    Shortest(minVal < lo ? minVal : maxVal),
                    "Maximum Value: " + Shortest(hi) + "\nMinimum Value: " + Shortest(lo) +
                        "\nChannel Name: " + ch);
  if (!t->card.empty() && t->card != cardName)
    return Fail(kErrBadChannel, "A task's channels must be on one device.");
  if (std::find(t->ao.begin(), t->ao.end(), ch) != t->ao.end()) return 0;
  t->card = cardName;
  t->ao.push_back(ch);
  ResetBuffer(*t);
  return 0;
}

int32 DAQmxCreateDIChan(TaskHandle task, const char lines[], const char[], int32 lineGrouping) {
  SIM_LOCK;
  Task* t = FindTask(sim, task);
  if (!t) return Fail(kErrBadTask, "Task handle is invalid.");
  if (lineGrouping != kValChanPerLine && lineGrouping != kValChanForAllLines)
    return BadValue("lineGrouping", std::to_string(lineGrouping),
                    "Possible Values: DAQmx_Val_ChanPerLine (0), DAQmx_Val_ChanForAllLines (1)");
  const std::string cardName = CardOf(lines);
  CARD_OR_FAIL(cardName);
  t->card = cardName;
  return 0;
}

int32 DAQmxCfgOutputBuffer(TaskHandle task, uInt32 numSampsPerChan) {
  SIM_LOCK;
  Task* t = FindTask(sim, task);
  if (!t) return Fail(kErrBadTask, "Task handle is invalid.");
  t->bufferSize = numSampsPerChan;
  return 0;
}

int32 DAQmxCfgSampClkTiming(TaskHandle task, const char[], float64 rate, int32 activeEdge,
                            int32 sampleMode, uInt64) {
  SIM_LOCK;
  Task* t = FindTask(sim, task);
  if (!t) return Fail(kErrBadTask, "Task handle is invalid.");
  if (activeEdge != kValRising && activeEdge != kValFalling)
    return BadValue("DAQmx_SampClk_ActiveEdge", std::to_string(activeEdge),
                    "Possible Values: DAQmx_Val_Rising (10280), DAQmx_Val_Falling (10171)");
  // The stand-in generates continuously only (finite generation is not modelled).
  if (sampleMode != kValContSamps)
    return BadValue("DAQmx_SampQuant_SampMode", std::to_string(sampleMode),
                    "Possible Values: DAQmx_Val_ContSamps (10123)");
  if (int32 st = CheckCard(sim, t->card); st != 0) return st;
  const Card& card = *FindCard(sim, t->card);
  if (!(rate > 0) || rate > card.maxRate * 1.000001)
    return Fail(-200077, "Requested sample rate is not supported.");
  t->clocked = true;
  t->rate = rate;
  return 0;
}

int32 DAQmxCfgChangeDetectionTiming(TaskHandle task, const char risingEdgeChan[],
                                    const char fallingEdgeChan[], int32 sampleMode, uInt64) {
  SIM_LOCK;
  Task* t = FindTask(sim, task);
  if (!t) return Fail(kErrBadTask, "Task handle is invalid.");
  if (sampleMode != kValContSamps)
    return BadValue("DAQmx_SampQuant_SampMode", std::to_string(sampleMode),
                    "Possible Values: DAQmx_Val_ContSamps (10123)");
  t->changeDetection = true;
  t->diRising = Split(risingEdgeChan ? risingEdgeChan : "", ',');
  t->diFalling = Split(fallingEdgeChan ? fallingEdgeChan : "", ',');
  return 0;
}

int32 DAQmxCfgDigEdgeStartTrig(TaskHandle task, const char triggerSource[], int32 edge) {
  SIM_LOCK;
  Task* t = FindTask(sim, task);
  if (!t) return Fail(kErrBadTask, "Task handle is invalid.");
  if (edge != kValRising && edge != kValFalling)
    return Fail(kErrBadValue, "Requested value is not a supported value for this property.");
  t->startTrigger = true;
  t->startEdge = edge;
  t->triggerSource = triggerSource;
  return 0;
}

int32 DAQmxDisableStartTrig(TaskHandle task) {
  SIM_LOCK;
  Task* t = FindTask(sim, task);
  if (!t) return Fail(kErrBadTask, "Task handle is invalid.");
  t->startTrigger = false;
  t->startEdge = 0;
  t->triggerSource.clear();
  return 0;
}

int32 DAQmxRegisterSignalEvent(TaskHandle task, int32 signalID, uInt32, SignalCallback callback,
                               void* callbackData) {
  SIM_LOCK;
  Task* t = FindTask(sim, task);
  if (!t) return Fail(kErrBadTask, "Task handle is invalid.");
  if (signalID != kValChangeDetectionEvent) return Fail(-200478, "Signal not supported.");
  t->callback = callback;
  t->callbackData = callbackData;
  return 0;
}

int32 DAQmxStartTask(TaskHandle task) {
  SIM_LOCK;
  Task* t = FindTask(sim, task);
  if (!t) return Fail(kErrBadTask, "Task handle is invalid.");
  if (!t->card.empty())
    if (int32 st = CheckCard(sim, t->card); st != 0) return st;
  if (t->changeDetection) {
    t->diStarted = true;
    return 0;
  }
  if (t->state != State::Idle) return 0;
  if (t->startTrigger) {
    t->state = State::Armed;
  } else {
    StartClock(sim, *t);
  }
  return 0;
}

int32 DAQmxStopTask(TaskHandle task) {
  SIM_LOCK;
  Task* t = FindTask(sim, task);
  if (!t) return Fail(kErrBadTask, "Task handle is invalid.");
  Advance(sim, *t);
  Release(sim, *t);
  t->state = State::Idle;
  t->diStarted = false;
  ResetBuffer(*t);
  sim.changed.notify_all();
  return 0;
}

int32 DAQmxWriteAnalogF64(TaskHandle task, int32 numSampsPerChan, bool32 autoStart, float64 timeout,
                          bool32 dataLayout, const float64 data[], int32* sampsPerChanWritten,
                          bool32*) {
  SIM_LOCK;
  if (sampsPerChanWritten) *sampsPerChanWritten = 0;
  Task* t = FindTask(sim, task);
  if (!t) return Fail(kErrBadTask, "Task handle is invalid.");
  if (int32 st = CheckCard(sim, t->card); st != 0) return st;
  if (t->ao.empty() || numSampsPerChan < 0) return Fail(-200477, "No channels in the task.");
  const size_t n = static_cast<size_t>(numSampsPerChan);
  const size_t channels = t->ao.size();
  if (dataLayout != kValGroupByChannel && dataLayout != kValGroupByScanNumber)
    return BadValue("dataLayout", std::to_string(dataLayout),
                    "Possible Values: DAQmx_Val_GroupByChannel (0), "
                    "DAQmx_Val_GroupByScanNumber (1)");
  // Interleaved samples are read as the library reads them: one scan of every channel at a time.
  std::vector<double> grouped;
  const float64* writeArray = data;
  if (dataLayout == kValGroupByScanNumber && channels > 1) {
    grouped.resize(n * channels);
    for (size_t k = 0; k < n; ++k)
      for (size_t c = 0; c < channels; ++c) grouped[c * n + k] = data[k * channels + c];
    writeArray = grouped.data();
  }
  if (!t->clocked) {
    // On-demand output: the values appear at once.
    for (size_t c = 0; c < channels; ++c) Record(sim, *t, t->ao[c], writeArray + c * n, n, -1);
    if (sampsPerChanWritten) *sampsPerChanWritten = numSampsPerChan;
    return 0;
  }
  if (t->bufferSize > 0 && n > t->bufferSize)
    return Fail(kErrBuffer, "Write is larger than the output buffer.");
  const auto deadline =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(
                         std::chrono::duration<double>(std::max(0.0, std::min(timeout, 1e6))));
  for (;;) {
    t = FindTask(sim, task);
    if (!t) return Fail(kErrBadTask, "Task handle is invalid.");
    if (int32 st = CheckCard(sim, t->card); st != 0) return st;
    Advance(sim, *t);
    if (t->underrun)
      return Fail(kErrUnderrun,
                  "The generation stopped: the output ran out of samples (underrun).");
    const uint64_t queued = t->written - t->consumed;
    const uint64_t capacity = t->bufferSize > 0 ? t->bufferSize : queued + n;
    if (queued + n <= capacity) break;
    const auto now = Clock::now();
    if (now >= deadline)
      return Fail(kErrWriteTimeout,
                  "Some or all of the samples could not be written to the buffer in time.");
    auto wait = std::chrono::milliseconds(20);
    Card* card = FindCard(sim, t->card);
    if (t->state == State::Running && !(card && card->stalled)) {
      const double need = static_cast<double>(queued + n - capacity) / (t->rate * sim.speed);
      wait = std::chrono::milliseconds(
          std::clamp<int64_t>(static_cast<int64_t>(std::ceil(need * 1000.0)), 1, 50));
    }
    sim.changed.wait_until(guard, std::min(deadline, now + wait));
  }
  for (size_t c = 0; c < channels; ++c)
    t->pending[c].insert(t->pending[c].end(), writeArray + c * n, writeArray + (c + 1) * n);
  t->written += n;
  if (sampsPerChanWritten) *sampsPerChanWritten = numSampsPerChan;
  if (autoStart && t->state == State::Idle) {
    if (t->startTrigger) {
      t->state = State::Armed;
    } else {
      StartClock(sim, *t);
    }
  }
  return 0;
}

int32 DAQmxGetWriteTotalSampPerChanGenerated(TaskHandle task, uInt64* data) {
  SIM_LOCK;
  Task* t = FindTask(sim, task);
  if (!t) return Fail(kErrBadTask, "Task handle is invalid.");
  Advance(sim, *t);
  *data = t->consumed;
  return 0;
}

int32 DAQmxConnectTerms(const char sourceTerminal[], const char destinationTerminal[],
                        int32 signalModifiers) {
  SIM_LOCK;
  if (signalModifiers != kValDoNotInvertPolarity && signalModifiers != kValInvertPolarity)
    return BadValue("signalModifiers", std::to_string(signalModifiers),
                    "Possible Values: DAQmx_Val_DoNotInvertPolarity (0), "
                    "DAQmx_Val_InvertPolarity (1)");
  const std::string cardName = CardOf(sourceTerminal);
  CARD_OR_FAIL(cardName);
  card.routes.insert({sourceTerminal, destinationTerminal});
  return 0;
}

int32 DAQmxDisconnectTerms(const char sourceTerminal[], const char destinationTerminal[]) {
  SIM_LOCK;
  const std::string cardName = CardOf(sourceTerminal);
  CARD_OR_FAIL(cardName);
  card.routes.erase({sourceTerminal, destinationTerminal});
  return 0;
}

// Control interface.

int OndrevoDaqSimConfigure(const char* text) {
  Sim& sim = S();
  std::lock_guard guard(sim.lock);
  return ConfigureLocked(sim, text ? text : "");
}

void OndrevoDaqSimSetSpeed(double speed) {
  SIM_LOCK;
  if (!(speed > 0)) return;
  for (auto& [h, t] : sim.tasks) Advance(sim, *t);
  // Re-base running clocks so the samples taken so far stay taken.
  const auto now = Clock::now();
  for (auto& [h, t] : sim.tasks) {
    if (t->state != State::Running) continue;
    const double taken = static_cast<double>(Due(sim, *t, now));
    t->t0 = now - std::chrono::duration_cast<Clock::duration>(
                      std::chrono::duration<double>(taken / (t->rate * speed)));
    t->stalledFor = {};
  }
  sim.cardSecondsAtBase = CardSeconds(sim, now);
  sim.clockBase = now;
  sim.speed = speed;
  sim.changed.notify_all();
}

void OndrevoDaqSimFireTrigger(const char* line, int rising) {
  std::vector<std::tuple<SignalCallback, TaskHandle, void*>> calls;
  {
    SIM_LOCK;
    const std::string l = line;
    const std::string cardName = CardOf(l);
    Card* card = FindCard(sim, cardName);
    if (!card || card->removed) return;
    bool event = false;
    for (auto& [h, t] : sim.tasks) {
      if (!t->changeDetection || !t->diStarted || t->card != cardName) continue;
      const auto& watched = rising ? t->diRising : t->diFalling;
      if (std::find(watched.begin(), watched.end(), l) == watched.end()) continue;
      event = true;
      if (t->callback) calls.emplace_back(t->callback, h, t->callbackData);
    }
    if (event) {
      // The change-detection pulse reaches every terminal it is routed to.
      const std::string source = "/" + cardName + "/ChangeDetectionEvent";
      const auto now = Clock::now();
      for (auto& [h, t] : sim.tasks) {
        if (t->state != State::Armed || t->card != cardName) continue;
        if (card->routes.count({source, t->triggerSource}) == 0) continue;
        StartClock(sim, *t, now);
      }
      sim.changed.notify_all();
    }
  }
  for (auto& [fn, h, data] : calls) fn(h, kValChangeDetectionEvent, data);
}

void OndrevoDaqSimRemoveCard(const char* card) {
  SIM_LOCK;
  if (Card* c = FindCard(sim, card)) {
    for (auto& [h, t] : sim.tasks)
      if (t->card == card) Advance(sim, *t);
    c->removed = true;
  }
  sim.changed.notify_all();
}

void OndrevoDaqSimStallCard(const char* card, int stalled) {
  SIM_LOCK;
  Card* c = FindCard(sim, card);
  if (!c || c->stalled == (stalled != 0)) return;
  const auto now = Clock::now();
  for (auto& [h, t] : sim.tasks)
    if (t->card == card) Advance(sim, *t, now);
  if (stalled) {
    c->stalledAt = now;
  } else {
    for (auto& [h, t] : sim.tasks)
      if (t->card == card && t->state == State::Running)
        t->stalledFor += now - std::max(c->stalledAt, t->t0);
  }
  c->stalled = stalled != 0;
  sim.changed.notify_all();
}

void OndrevoDaqSimSetRecordFolder(const char* folder) {
  SIM_LOCK;
  for (auto& [name, f] : sim.files)
    if (f.file) std::fclose(f.file);
  sim.files.clear();
  sim.recordFolder = folder ? folder : "";
}

void OndrevoDaqSimSetRecordLimit(uint64_t samples) {
  SIM_LOCK;
  sim.recordLimit = samples;
}

uint64_t OndrevoDaqSimSamples(const char* channel, double* out, uint64_t max) {
  SIM_LOCK;
  for (auto& [h, t] : sim.tasks) Advance(sim, *t);
  auto it = sim.recordings.find(channel);
  if (it == sim.recordings.end()) return 0;
  if (out) {
    const uint64_t n = std::min<uint64_t>(max, it->second.samples.size());
    std::copy_n(it->second.samples.begin(), n, out);
  }
  return it->second.count;
}

double OndrevoDaqSimLastValue(const char* channel) {
  SIM_LOCK;
  for (auto& [h, t] : sim.tasks) Advance(sim, *t);
  auto it = sim.recordings.find(channel);
  return it == sim.recordings.end() ? 0.0 : it->second.last;
}

int OndrevoDaqSimStartTriggerEdge(const char* channel) {
  SIM_LOCK;
  for (auto& [h, t] : sim.tasks)
    if (t->startTrigger && std::find(t->ao.begin(), t->ao.end(), channel) != t->ao.end())
      return t->startEdge;
  return 0;
}

int OndrevoDaqSimUnderruns(const char* card) {
  SIM_LOCK;
  for (auto& [h, t] : sim.tasks) Advance(sim, *t);
  Card* c = FindCard(sim, card);
  return c ? c->underruns : 0;
}

int OndrevoDaqSimOpenTasks(void) {
  SIM_LOCK;
  return static_cast<int>(sim.tasks.size());
}

void OndrevoDaqSimClearRecording(void) {
  SIM_LOCK;
  sim.recordings.clear();
  for (auto& [name, card] : sim.cards) card.underruns = 0;
}

}  // extern "C"
