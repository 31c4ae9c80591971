#include "sim/ShortCommands.h"

#include <cstdint>

#include "document/Numbers.h"
#include "sim/Text.h"

namespace ondrevo::sim {

bool TShortCommandSim::Remote() const {
  std::lock_guard lock(stateMutex_);
  return remote_;
}

std::deque<int> TShortCommandSim::PendingErrors() const {
  std::lock_guard lock(stateMutex_);
  return errors_;
}

std::vector<std::string> TShortCommandSim::Warnings() const {
  std::lock_guard lock(stateMutex_);
  return warnings_;
}

void TShortCommandSim::ClearWarnings() {
  std::lock_guard lock(stateMutex_);
  warnings_.clear();
}

void TShortCommandSim::Warn(std::string text) {
  // A demo that runs for days keeps the latest thousand.
  if (warnings_.size() >= 1000) warnings_.erase(warnings_.begin());
  warnings_.push_back(std::move(text));
}

void TShortCommandSim::RefuseListWrite() const {
  if (instrumentFaults_.ListError.empty()) return;
  std::int64_t code = RangeError;
  TryParseInteger(instrumentFaults_.ListError, code);
  Fail(static_cast<int>(code));
}

void TShortCommandSim::Fail(int code) {
  throw TFailure{code};
}

void TShortCommandSim::Expect(const std::vector<std::string>& params, std::size_t count) {
  if (params.size() != count) Fail(ParameterError);
}

void TShortCommandSim::Setting(bool query, const std::vector<std::string>& params,
                               std::size_t count) {
  if (query) Fail(CommandError);
  Expect(params, count);
}

bool TShortCommandSim::Answer(bool query, std::string& reply, std::string text) {
  if (!query) Fail(CommandError);
  reply = std::move(text);
  return true;
}

double TShortCommandSim::Value(const std::string& text) {
  double value = 0;
  if (!TryParseNumber(text, value)) Fail(ParameterError);
  return value;
}

int TShortCommandSim::Whole(const std::string& text, int low, int high) {
  std::int64_t value = 0;
  if (!TryParseInteger(text, value)) Fail(ParameterError);
  if (value < low || value > high) Fail(RangeError);
  return static_cast<int>(value);
}

bool TShortCommandSim::Switch(const std::string& text) {
  const std::string upper = Upper(text);
  if (upper == "ON" || upper == "1") return true;
  if (upper == "OFF" || upper == "0") return false;
  Fail(ParameterError);
}

std::optional<std::string> TShortCommandSim::Process(std::string_view line) {
  if (line.size() > maxLineLength_) {
    // Recorded even when the queue is full.
    errors_.push_back(LineTooLong);
    return std::nullopt;
  }
  Update();
  std::string reply;
  bool hasReply = false;
  for (std::string_view unit : Split(line, ';')) {
    if (unit.empty()) continue;
    try {
      const auto blank = unit.find_first_of(" \t");
      std::string header = Upper(unit.substr(0, blank));
      const bool query = !header.empty() && header.back() == '?';
      if (query) header.pop_back();
      std::vector<std::string> params;
      if (blank != std::string_view::npos)
        for (std::string_view p : Split(Trim(unit.substr(blank)), ',')) {
          if (p.empty()) Fail(ParameterError);
          params.emplace_back(p);
        }
      std::string answer;
      std::optional<bool> answered = ExecuteCommon(header, query, params, answer);
      if (!answered) answered = Execute(header, query, params, answer);
      if (*answered) {
        if (hasReply) reply += ';';
        reply += answer;
        hasReply = true;
      }
    } catch (const TFailure& failure) {
      if (errors_.size() < ErrorQueueLength) errors_.push_back(failure.Code);
    }
  }
  if (!hasReply) return std::nullopt;
  return reply;
}

std::optional<bool> TShortCommandSim::ExecuteCommon(const std::string& h, bool query,
                                                    const std::vector<std::string>& params,
                                                    std::string& reply) {
  auto command = [&](std::size_t count) { Setting(query, params, count); };
  auto answer = [&](std::string text) { return Answer(query, reply, std::move(text)); };

  if (h == "*IDN") return Expect(params, 0), answer(IdentificationReply());
  if (h == "*OPC") {
    if (query) return Expect(params, 0), answer("1");
    return command(0), false;
  }
  if (h == "*CLS") return command(0), errors_.clear(), false;
  if (h == "*RST") return command(0), Reset(), false;
  if (h == "SYST:REM") return command(0), remote_ = true, false;
  if (h == "SYST:LOC") return command(0), remote_ = false, false;
  if (h == "SYST:LANG") {
    command(1);
    if (Upper(params[0]) != "COMP") Fail(ParameterError);
    return false;
  }
  if (h == "ERR") {
    Expect(params, 0);
    int code = NoError;
    if (!errors_.empty()) {
      code = errors_.front();
      errors_.pop_front();
    }
    return answer(std::to_string(code));
  }
  return std::nullopt;
}

}  // namespace ondrevo::sim
