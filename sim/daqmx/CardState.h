// The simulated card library's state: cards, tasks and their sample clocks, recordings. Shared
// by the library's entry points (DaqMxSim.cpp); nothing here leaves the library.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

using int32 = int32_t;
using uInt32 = uint32_t;
using uInt64 = uint64_t;
using float64 = double;
using bool32 = uInt32;
using TaskHandle = void*;
using SignalCallback = int32 (*)(TaskHandle, int32, void*);

// Nothing of the state is exported: the library shows only the C entry points.
#pragma GCC visibility push(hidden)
namespace ondrevo::daqsim {

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

Sim& S();
double CardSeconds(const Sim& sim, Clock::time_point at);
std::string Shortest(double v);
ChannelFile* FileOf(Sim& sim, const std::string& channel);
void NoteChange(ChannelFile& f, double time, double value, bool on);
// The task lets go of its channels: they hold their value, undriven.
void Release(Sim& sim, Task& t, Clock::time_point now = Clock::now());
std::string& LastError();
int32 Fail(int32 code, const std::string& text);
std::vector<std::string> Split(const std::string& text, char sep);
bool ParseDouble(const std::string& s, double& v);
int ConfigureLocked(Sim& sim, const std::string& text);
void EnsureConfigured(Sim& sim);
std::string CardOf(const std::string& channel);
Card* FindCard(Sim& sim, const std::string& name);
Task* FindTask(Sim& sim, TaskHandle h);
// Samples the clock has taken since the start; frozen while the card stalls.
uint64_t Due(Sim& sim, Task& t, Clock::time_point now);
// `first` is the index of v[0] on the task's sample clock, -1 for on-demand output now.
void Record(Sim& sim, Task& t, const std::string& channel, const double* v, size_t n,
            int64_t first);
// Moves what the clock has output by now from the buffer to the recording.
void Advance(Sim& sim, Task& t, Clock::time_point now = Clock::now());
void ResetBuffer(Task& t);
void StartClock(Sim& sim, Task& t, Clock::time_point now = Clock::now());
// The library's message for a value it does not take: names the property and what it allows.
int32 BadValue(const std::string& property, const std::string& requested,
               const std::string& allowed);
int32 CheckCard(Sim& sim, const std::string& name);
int32 CopyText(const std::string& text, char* data, uInt32 size);
std::string Joined(const std::vector<std::string>& parts);

}  // namespace ondrevo::daqsim
#pragma GCC visibility pop

#define SIM_LOCK                    \
  Sim& sim = S();                   \
  std::unique_lock guard(sim.lock); \
  EnsureConfigured(sim)

#define CARD_OR_FAIL(name)                                 \
  if (int32 st = CheckCard(sim, name); st != 0) return st; \
  [[maybe_unused]] Card& card = *FindCard(sim, name)
