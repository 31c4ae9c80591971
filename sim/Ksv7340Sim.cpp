#include "sim/Ksv7340Sim.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "devices/ModelTables.h"
#include "document/Numbers.h"
#include "sim/Text.h"

namespace ondrevo::sim {

namespace {

// SCPI mnemonics, long and short form; a header token matches either, in any case.
constexpr std::pair<const char*, const char*> Mnemonics[] = {
    {"SOURCE", "SOUR"},   {"VOLTAGE", "VOLT"},   {"CURRENT", "CURR"},   {"LIST", "LIST"},
    {"SEQUENCE", "SEQ"},  {"STATE", "STAT"},     {"STATUS", "STAT"},    {"TERMINATE", "TERM"},
    {"BLOCK", "BLOC"},    {"DWELL", "DWEL"},     {"CLEAR", "CLE"},      {"OPEN", "OPEN"},
    {"MODE", "MODE"},     {"TRIGGER", "TRIG"},   {"INITIATE", "INIT"},  {"CONTINUOUS", "CONT"},
    {"ABORT", "ABOR"},    {"OPERATION", "OPER"}, {"CONDITION", "COND"}, {"SYSTEM", "SYST"},
    {"ERROR", "ERR"},     {"NEXT", "NEXT"},      {"LANGUAGE", "LANG"},  {"REMOTE", "REM"},
    {"LOCAL", "LOC"},     {"RWLOCK", "RWL"},     {"VERSION", "VERS"},   {"INSTRUMENT", "INST"},
    {"NSELECT", "NSEL"},  {"OUTPUT", "OUTP"},    {"MEASURE", "MEAS"},   {"SCALAR", "SCAL"},
    {"IMMEDIATE", "IMM"}, {"LEVEL", "LEV"},      {"AMPLITUDE", "AMPL"},
};

// Nodes that may be left out: removed from the canonical header.
bool IsOptionalNode(const std::string& canonical, std::size_t index) {
  if (canonical == "SOUR") return index == 0;
  return index > 0 && (canonical == "NEXT" || canonical == "IMM" || canonical == "LEV" ||
                       canonical == "AMPL" || canonical == "SCAL");
}

struct TScpiError {
  int Code;
  const char* Text;
};

[[noreturn]] void Fail(int code, const char* text) {
  throw TScpiError{code, text};
}

std::string Canonical(std::string_view header) {
  if (!header.empty() && header.front() == ':') header.remove_prefix(1);
  std::vector<std::string> tokens;
  std::size_t start = 0;
  while (true) {
    const auto colon = header.find(':', start);
    tokens.push_back(Upper(header.substr(start, colon - start)));
    if (colon == std::string_view::npos) break;
    start = colon + 1;
  }
  std::string out;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    std::string token = tokens[i];
    if (token.empty()) Fail(-102, "Syntax error");
    for (const auto& [longForm, shortForm] : Mnemonics)
      if (token == longForm || token == shortForm) {
        token = shortForm;
        break;
      }
    if (IsOptionalNode(token, i)) continue;
    if (!out.empty()) out += ':';
    out += token;
  }
  // "OUTP:STAT" is "OUTP"; "LIST:SEQ:STAT" keeps its node.
  if (out == "OUTP:STAT") out = "OUTP";
  return out;
}

bool ParseBool(const std::string& text) {
  const std::string upper = Upper(text);
  if (upper == "ON" || upper == "1") return true;
  if (upper == "OFF" || upper == "0") return false;
  Fail(-224, "Illegal parameter value");
}

double ParseValue(const std::string& text) {
  double value = 0;
  if (!TryParseNumber(text, value)) Fail(-120, "Numeric data error");
  return value;
}

int ParseIndex(const std::string& text) {
  std::int64_t value = 0;
  if (!TryParseInteger(text, value)) Fail(-120, "Numeric data error");
  if (value < 0 || value > 1000000) Fail(-222, "Data out of range");
  return static_cast<int>(value);
}

std::string Number(double value) {
  return FormatDecimals(value, 3);
}

std::string Integer(long long value) {
  return std::to_string(value);
}

}  // namespace

struct TKsv7340Sim::TCommand {
  std::string Header;  // canonical, without "?"
  bool Query = false;
  std::vector<std::string> Params;

  void Expect(std::size_t low, std::size_t high) const {
    if (Params.size() < low) Fail(-109, "Missing parameter");
    if (Params.size() > high) Fail(-108, "Parameter not allowed");
  }
};

TKsv7340Sim::TKsv7340Sim(std::string model, std::string serial, TSimClock clock,
                         std::string firmware)
    : TSimInstrument(model, std::move(serial), std::move(firmware)), clock_(std::move(clock)) {
  const ModelLimits limits = FamilyCLimits(CompactModel());
  if (limits.Unsupported) throw std::invalid_argument("Unknown family-C model \"" + model + "\".");
  maxVoltage_ = limits.MaxVoltage;
  maxCurrent_ = limits.MaxCurrent;
  channels_ = OutputChannelCount(CompactModel());
  if (!clock_) clock_ = MakeScaledClock(1.0);
  now_ = clock_();
  Reset();
}

void TKsv7340Sim::Reset() {
  voltage_.fill(0);
  current_.fill(0);
  dwell_.fill(0.01);
  blocks_.fill(TBlock{});
  sequenceOn_ = false;
  sequenceBlock_ = 0;
  terminateEndless_ = false;
  triggerBus_ = true;
  initContinuous_ = false;
  channel_ = 0;
  output_.fill(false);
  setVoltage_.fill(0);
  setCurrent_.fill(0);
  run_ = TRunState::Idle;
  runBlock_ = TBlock{};
  runDwell_.clear();
  runVoltage_.clear();
  runCurrent_.clear();
  playIndex_ = 0;
  playRepetition_ = 0;
  resume_.reset();
  for (int channel = 0; channel < channels_; ++channel) NoteChannel(channel, now_);
}

void TKsv7340Sim::PushError(int code, const char* text) {
  PushEntry(Integer(code) + ",\"" + text + "\"");
}

void TKsv7340Sim::PushEntry(std::string entry) {
  if (errors_.size() >= ErrorQueueLength) {
    errors_.back() = "-350,\"Queue overflow\"";
    return;
  }
  errors_.push_back(std::move(entry));
}

void TKsv7340Sim::Warn(std::string text) const {
  // The oldest go first: a long session keeps its latest thousand.
  if (warnings_.size() >= 1000) warnings_.erase(warnings_.begin());
  warnings_.push_back(std::move(text));
}

TOutputState TKsv7340Sim::StateOf(int channel) const {
  const auto c = static_cast<std::size_t>(channel);
  if (run_ == TRunState::Running && channel == runChannel_)
    return {runVoltage_[playIndex_], runCurrent_[playIndex_], output_[c]};
  return {setVoltage_[c], setCurrent_[c], output_[c]};
}

void TKsv7340Sim::NoteChannel(int channel, double time) const {
  // The record belongs to the instrument; queries that bring the run up to date note into it.
  const_cast<TKsv7340Sim*>(this)->Output().Note(time, channel, StateOf(channel));
}

void TKsv7340Sim::StartRun(double time) const {
  const TBlock block = blocks_[sequenceBlock_];
  // A resume continues where ABOR halted, unless the block changed since.
  TCursor cursor{0, 1, time};
  if (resume_ && runBlock_.First == block.First && runBlock_.Last == block.Last &&
      (block.Count == 0 || resume_->second <= block.Count)) {
    cursor.Index = resume_->first;
    cursor.Repetition = resume_->second;
  }
  resume_.reset();
  runBlock_ = block;
  runDwell_.assign(dwell_.begin() + block.First, dwell_.begin() + block.Last + 1);
  runVoltage_.assign(voltage_.begin() + block.First, voltage_.begin() + block.Last + 1);
  runCurrent_.assign(current_.begin() + block.First, current_.begin() + block.Last + 1);
  runPeriod_ = 0;
  for (double d : runDwell_) runPeriod_ += d;
  runChannel_ = channel_;
  next_ = cursor;
  playIndex_ = cursor.Index;
  playRepetition_ = cursor.Repetition;
  run_ = TRunState::Running;
  ++starts_;
}

void TKsv7340Sim::EndRun(double time) const {
  run_ = TRunState::Idle;
  resume_.reset();
  NoteChannel(runChannel_, time);
  if (initContinuous_) {
    if (triggerBus_)
      run_ = TRunState::WaitingForTrigger;
    else
      StartRun(time);
  }
}

void TKsv7340Sim::StopRun() {
  if (run_ == TRunState::Running) {
    resume_ = std::make_pair(playIndex_, playRepetition_);
    run_ = TRunState::Idle;
    NoteChannel(runChannel_, now_);
  }
  run_ = TRunState::Idle;
}

void TKsv7340Sim::Update() const {
  now_ = std::max(now_, clock_());
  while (run_ == TRunState::Running) {
    const bool endless = terminateEndless_ || runBlock_.Count == 0;
    const int points = static_cast<int>(runDwell_.size());
    if (!endless && playRepetition_ > runBlock_.Count) {
      // The count was lowered below the repetition in force: it ends at once.
      EndRun(now_);
      continue;
    }
    if (!endless && next_.Repetition > runBlock_.Count) {
      if (next_.Time > now_) break;
      EndRun(next_.Time);
      continue;
    }
    if (next_.Time > now_) break;
    // Far behind (nobody asked for a long while): whole repetitions pass unnoted.
    const double period = runPeriod_;
    if (next_.Index == 0 && period > 0 && now_ - next_.Time > 1e5 * period / points) {
      auto skip = static_cast<long long>(std::floor((now_ - next_.Time) / period)) - 1;
      if (!endless) skip = std::min<long long>(skip, runBlock_.Count - next_.Repetition);
      if (skip > 0) {
        next_.Time += static_cast<double>(skip) * period;
        next_.Repetition = static_cast<int>(
            std::min<long long>(next_.Repetition + skip, std::numeric_limits<int>::max() - 1));
        Warn(std::to_string(skip) + " repetitions passed without being recorded");
      }
    }
    playIndex_ = next_.Index;
    playRepetition_ = next_.Repetition;
    NoteChannel(runChannel_, next_.Time);
    next_.Time += runDwell_[static_cast<std::size_t>(next_.Index)];
    if (++next_.Index == points) {
      next_.Index = 0;
      if (next_.Repetition < std::numeric_limits<int>::max() - 1) ++next_.Repetition;
    }
  }
}

void TKsv7340Sim::Trigger() {
  std::lock_guard lock(stateMutex_);
  Update();
  Warn("trigger input pulse: this model has no trigger input");
}

void TKsv7340Sim::SettleOutput() {
  std::lock_guard lock(stateMutex_);
  Update();
}

std::optional<std::string> TKsv7340Sim::Process(std::string_view line) {
  if (line.size() > MaxLineLength) {
    PushError(-223, "Too much data");
    return std::nullopt;
  }
  std::string reply;
  bool hasReply = false;
  std::size_t start = 0;
  while (start <= line.size()) {
    auto end = line.find(';', start);
    if (end == std::string_view::npos) end = line.size();
    const std::string_view unit = Trim(line.substr(start, end - start));
    start = end + 1;
    if (unit.empty()) continue;
    try {
      TCommand command;
      const auto blank = unit.find_first_of(" \t");
      std::string_view header = unit.substr(0, blank);
      if (!header.empty() && header.back() == '?') {
        command.Query = true;
        header.remove_suffix(1);
      }
      command.Header = header.front() == '*' ? Upper(header) : Canonical(header);
      if (blank != std::string_view::npos) {
        std::string_view rest = Trim(unit.substr(blank));
        std::size_t from = 0;
        while (from <= rest.size()) {
          auto comma = rest.find(',', from);
          if (comma == std::string_view::npos) comma = rest.size();
          command.Params.emplace_back(Trim(rest.substr(from, comma - from)));
          if (command.Params.back().empty()) Fail(-102, "Syntax error");
          from = comma + 1;
        }
      }
      std::string answer;
      bool answered = false;
      Execute(command, answer, answered);
      if (answered) {
        if (hasReply) reply += ';';
        reply += answer;
        hasReply = true;
      }
    } catch (const TScpiError& error) {
      PushError(error.Code, error.Text);
    }
  }
  if (!hasReply) return std::nullopt;
  return reply;
}

void TKsv7340Sim::Execute(const TCommand& c, std::string& reply, bool& hasReply) {
  Update();
  const std::string& h = c.Header;
  auto answer = [&](std::string text) {
    reply = std::move(text);
    hasReply = true;
  };
  auto set = [&](std::size_t low, std::size_t high) {
    if (c.Query) Fail(-113, "Undefined header");
    c.Expect(low, high);
  };
  auto query = [&](std::size_t high = 0) {
    if (!c.Query) Fail(-113, "Undefined header");
    c.Expect(0, high);
  };

  // Common commands.
  if (h == "*IDN") return query(), answer(IdentificationReply());
  if (h == "*CLS") return set(0, 0), errors_.clear();
  if (h == "*RST") return set(0, 0), Reset();
  if (h == "*OPC") {
    if (c.Query) return query(), answer("1");
    return set(0, 0);
  }
  if (h == "*WAI") return set(0, 0);
  if (h == "*ESR") return query(), answer("0");
  if (h == "*STB") return query(), answer(errors_.empty() ? "0" : "4");
  if (h == "*TST") return query(), answer("0");
  if (h == "*TRG") {
    set(0, 0);
    if (run_ != TRunState::WaitingForTrigger || !triggerBus_) {
      Warn("*TRG with nothing armed: ignored");
      Fail(-211, "Trigger ignored");
    }
    StartRun(now_);
    return Update();
  }

  if (h == "SYST:ERR") {
    query();
    if (errors_.empty()) return answer("0,\"No error\"");
    std::string entry = errors_.front();
    errors_.pop_front();
    return answer(entry);
  }
  if (h == "SYST:REM" || h == "SYST:RWL") return set(0, 0), void(remote_ = true);
  if (h == "SYST:LOC") return set(0, 0), void(remote_ = false);
  if (h == "SYST:VERS") return query(), answer("1999.0");
  if (h == "SYST:LANG") {
    // The command set stays SCPI whatever is chosen; the driver selects CIIL and goes on in SCPI.
    if (c.Query) return query(), answer("SCPI");
    set(1, 1);
    const std::string language = Upper(c.Params[0]);
    if (language != "SCPI" && language != "CIIL" && language != "COMP")
      Fail(-224, "Illegal parameter value");
    if (language != "SCPI") Warn("SYST:LANG " + language + ": no effect, the commands stay SCPI");
    return;
  }
  if (h == "INST:NSEL") {
    if (c.Query) return query(), answer(Integer(channel_ + 1));
    set(1, 1);
    const int channel = ParseIndex(c.Params[0]);
    if (channel < 1 || channel > channels_) Fail(-222, "Data out of range");
    channel_ = channel - 1;
    return;
  }
  if (h == "OUTP") {
    if (c.Query) return query(), answer(output_[channel_] ? "1" : "0");
    set(1, 1);
    output_[channel_] = ParseBool(c.Params[0]);
    return NoteChannel(channel_, now_);
  }
  if (h == "VOLT" || h == "CURR") {
    const bool volt = h == "VOLT";
    const double max = volt ? maxVoltage_ : maxCurrent_;
    auto& target = volt ? setVoltage_[channel_] : setCurrent_[channel_];
    auto limit = [&](const std::string& p, bool& matched) {
      const std::string upper = Upper(p);
      matched = true;
      if (upper == "MAX" || upper == "MAXIMUM") return max;
      if (upper == "MIN" || upper == "MINIMUM" || upper == "DEF" || upper == "DEFAULT") return 0.0;
      matched = false;
      return 0.0;
    };
    if (c.Query) {
      query(1);
      bool matched = false;
      if (c.Params.empty()) return answer(Number(target));
      const double value = limit(c.Params[0], matched);
      if (!matched) Fail(-224, "Illegal parameter value");
      if (volt && value == max && !instrumentFaults_.MaxVoltageReply.empty())
        return answer(instrumentFaults_.MaxVoltageReply);
      return answer(Number(value));
    }
    set(1, 1);
    bool matched = false;
    double value = limit(c.Params[0], matched);
    if (!matched) value = ParseValue(c.Params[0]);
    if (!InRange(value, 0, max)) Fail(-222, "Data out of range");
    target = value;
    if (run_ == TRunState::Running && runChannel_ == channel_)
      Warn(h + ": the list in force holds the output; the value applies when it ends");
    return NoteChannel(channel_, now_);
  }
  if (h == "MEAS:VOLT" || h == "MEAS:CURR") {
    query();
    const bool volt = h == "MEAS:VOLT";
    double value = 0;
    if (output_[channel_]) {
      const TOutputState state = StateOf(channel_);
      value = volt ? state.Voltage : state.CurrentLimit;
    }
    return answer(Number(value));
  }

  if (h == "LIST:VOLT" || h == "LIST:CURR" || h == "LIST:DWEL") {
    auto& list = h == "LIST:VOLT" ? voltage_ : h == "LIST:CURR" ? current_ : dwell_;
    if (c.Query) {
      query(1);
      const int index = c.Params.empty() ? 0 : ParseIndex(c.Params[0]);
      if (index >= ListPoints) Fail(-222, "Data out of range");
      return answer(Number(list[index]));
    }
    set(2, ListPoints + 1);
    if (!instrumentFaults_.ListError.empty()) return PushEntry(instrumentFaults_.ListError);
    const int first = ParseIndex(c.Params[0]);
    const std::size_t count = c.Params.size() - 1;
    if (first + count > static_cast<std::size_t>(ListPoints)) Fail(-222, "Data out of range");
    double low = 0, high = h == "LIST:VOLT" ? maxVoltage_ : maxCurrent_;
    if (h == "LIST:DWEL") low = 0.01, high = 100;
    std::vector<double> values;
    for (std::size_t i = 1; i < c.Params.size(); ++i) {
      values.push_back(ParseValue(c.Params[i]));
      if (!InRange(values.back(), low, high)) Fail(-222, "Data out of range");
    }
    // All or nothing: a rejected command leaves the memory as it was.
    std::copy(values.begin(), values.end(), list.begin() + first);
    if (run_ == TRunState::Running)
      Warn(h + " while a list plays: the points apply from the next start");
    return;
  }
  if (h == "LIST:BLOC") {
    if (c.Query) {
      query(1);
      const int block = c.Params.empty() ? 0 : ParseIndex(c.Params[0]);
      if (block >= Blocks) Fail(-222, "Data out of range");
      const TBlock& b = blocks_[block];
      return answer(Integer(block) + "," + Integer(b.First) + "," + Integer(b.Last) + "," +
                    Integer(b.Count));
    }
    set(4, 4);
    const int block = ParseIndex(c.Params[0]);
    const int first = ParseIndex(c.Params[1]);
    const int last = ParseIndex(c.Params[2]);
    int count = 0;
    const std::string countText = Upper(c.Params[3]);
    if (countText != "INF" && countText != "INFINITY") {
      count = ParseIndex(c.Params[3]);
      if (count < 1 || count > MaxRepetitions) Fail(-222, "Data out of range");
    }
    if (block >= Blocks || first > last || last >= ListPoints) Fail(-222, "Data out of range");
    blocks_[block] = TBlock{first, last, count};
    if (block != sequenceBlock_)
      Warn("LIST:BLOC " + Integer(block) + ": not the sequence block, nothing plays it");
    // A running block takes a new count at once; its points stay as they were started.
    if (run_ == TRunState::Running && block == sequenceBlock_) {
      runBlock_.Count = count;
      Update();
    }
    return;
  }
  if (h == "LIST:SEQ") {
    query();
    return answer(Integer(sequenceBlock_) + "," + Integer(PlayingIndex()) + "," +
                  Integer(playRepetition_));
  }
  if (h == "LIST:SEQ:STAT") {
    if (c.Query) return query(), answer(sequenceOn_ ? "1" : "0");
    set(1, 1);
    sequenceOn_ = ParseBool(c.Params[0]);
    if (!sequenceOn_) {
      StopRun();
      resume_.reset();
    }
    return;
  }
  if (h == "LIST:SEQ:BLOC") {
    if (c.Query) return query(), answer(Integer(sequenceBlock_));
    set(1, 1);
    const int block = ParseIndex(c.Params[0]);
    if (block >= Blocks) Fail(-222, "Data out of range");
    if (run_ != TRunState::Idle) Fail(-221, "Settings conflict");
    sequenceBlock_ = block;
    return;
  }
  if (h == "LIST:SEQ:TERM") {
    if (c.Query) return query(), answer(terminateEndless_ ? "INF" : "FIRS");
    set(1, 1);
    const std::string mode = Upper(c.Params[0]);
    if (mode == "FIRS" || mode == "FIRST")
      terminateEndless_ = false;
    else if (mode == "INF" || mode == "INFINITY")
      terminateEndless_ = true;
    else
      Fail(-224, "Illegal parameter value");
    return;
  }
  if (h == "LIST:SEQ:OPEN:MODE") {
    if (c.Query) return query(), answer("NORM");
    set(1, 1);
    const std::string mode = Upper(c.Params[0]);
    if (mode != "NORM" && mode != "NORMAL") Fail(-224, "Illegal parameter value");
    Warn("LIST:SEQ:OPEN:MODE " + mode + ": the only mode there is, no effect");
    return;
  }
  if (h == "LIST:SEQ:CLE") {
    // Back to the start of the block; the last repetition stays readable.
    set(0, 0);
    if (StopIgnored()) return;
    StopRun();
    resume_.reset();
    runBlock_.First = blocks_[sequenceBlock_].First;
    playIndex_ = 0;
    return;
  }
  if (h == "TRIG:SOUR") {
    if (c.Query) return query(), answer(triggerBus_ ? "BUS" : "IMM");
    set(1, 1);
    const std::string source = Upper(c.Params[0]);
    if (source == "BUS")
      triggerBus_ = true;
    else if (source == "IMM" || source == "IMMEDIATE")
      triggerBus_ = false;
    else
      Fail(-224, "Illegal parameter value");
    return;
  }
  if (h == "INIT") {
    set(0, 0);
    if (!sequenceOn_) Fail(-221, "Settings conflict");
    if (run_ != TRunState::Idle) Fail(-213, "Init ignored");
    if (triggerBus_) {
      run_ = TRunState::WaitingForTrigger;
      return;
    }
    StartRun(now_);
    return Update();
  }
  if (h == "INIT:CONT") {
    if (c.Query) return query(), answer(initContinuous_ ? "1" : "0");
    set(1, 1);
    initContinuous_ = ParseBool(c.Params[0]);
    return;
  }
  if (h == "ABOR") {
    set(0, 0);
    if (StopIgnored()) return;
    if (run_ == TRunState::Idle) Warn("ABOR with nothing running or armed");
    StopRun();
    return;
  }
  if (h == "STAT:OPER:COND") {
    query();
    return answer(Integer(run_ == TRunState::Running             ? CondRunning
                          : run_ == TRunState::WaitingForTrigger ? CondWaitingForTrigger
                                                                 : 0));
  }
  Fail(-113, "Undefined header");
}

double TKsv7340Sim::ListVoltage(int index) const {
  std::lock_guard lock(stateMutex_);
  return voltage_.at(index);
}

double TKsv7340Sim::ListCurrent(int index) const {
  std::lock_guard lock(stateMutex_);
  return current_.at(index);
}

double TKsv7340Sim::ListDwell(int index) const {
  std::lock_guard lock(stateMutex_);
  return dwell_.at(index);
}

TKsv7340Sim::TBlock TKsv7340Sim::Block(int block) const {
  std::lock_guard lock(stateMutex_);
  return blocks_.at(block);
}

bool TKsv7340Sim::SequenceOn() const {
  std::lock_guard lock(stateMutex_);
  return sequenceOn_;
}

bool TKsv7340Sim::Remote() const {
  std::lock_guard lock(stateMutex_);
  return remote_;
}

bool TKsv7340Sim::OutputOn() const {
  std::lock_guard lock(stateMutex_);
  return output_[channel_];
}

std::pair<double, double> TKsv7340Sim::SetValues() const {
  std::lock_guard lock(stateMutex_);
  return {setVoltage_[channel_], setCurrent_[channel_]};
}

int TKsv7340Sim::SelectedChannel() const {
  std::lock_guard lock(stateMutex_);
  return channel_ + 1;
}

TKsv7340Sim::TRunState TKsv7340Sim::RunState() const {
  std::lock_guard lock(stateMutex_);
  Update();
  return run_;
}

std::pair<int, int> TKsv7340Sim::Position() const {
  std::lock_guard lock(stateMutex_);
  Update();
  return {PlayingIndex(), playRepetition_};
}

std::deque<std::string> TKsv7340Sim::PendingErrors() const {
  std::lock_guard lock(stateMutex_);
  return errors_;
}

int TKsv7340Sim::Starts() const {
  std::lock_guard lock(stateMutex_);
  return starts_;
}

std::vector<std::string> TKsv7340Sim::Warnings() const {
  std::lock_guard lock(stateMutex_);
  return warnings_;
}

void TKsv7340Sim::ClearWarnings() {
  std::lock_guard lock(stateMutex_);
  warnings_.clear();
}

}  // namespace ondrevo::sim
