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

#include "sim/daqmx/CardState.h"

using namespace ondrevo::daqsim;

extern "C" {

int32 DAQmxGetExtendedErrorInfo(char errorString[], uInt32 bufferSize) {
  return CopyText(LastError(), errorString, bufferSize);
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
