#include "sim/Output.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "document/Numbers.h"

namespace ondrevo::sim {

void TOutputRecord::Note(double time, int channel, const TOutputState& state) {
  std::function<void(const TOutputChange&)> listener;
  TOutputChange change{time, channel, state};
  {
    std::lock_guard guard(lock_);
    const auto index = static_cast<std::size_t>(channel);
    if (index >= last_.size()) {
      last_.resize(index + 1);
      noted_.resize(index + 1, false);
    }
    if (noted_[index] && last_[index] == state) return;
    noted_[index] = true;
    last_[index] = state;
    changes_.push_back(change);
    listener = listener_;
  }
  if (listener) listener(change);
}

std::vector<TOutputChange> TOutputRecord::Changes() const {
  std::lock_guard guard(lock_);
  return changes_;
}

TOutputState TOutputRecord::Last(int channel) const {
  std::lock_guard guard(lock_);
  const auto index = static_cast<std::size_t>(channel);
  return index < last_.size() ? last_[index] : TOutputState{};
}

void TOutputRecord::Clear() {
  std::lock_guard guard(lock_);
  changes_.clear();
  last_.clear();
  noted_.clear();
}

void TOutputRecord::SetListener(std::function<void(const TOutputChange&)> listener) {
  std::lock_guard guard(lock_);
  listener_ = std::move(listener);
}

TOutputCsvWriter::TOutputCsvWriter(const std::string& path) {
  file_ = std::fopen(path.c_str(), "w");
  if (!file_)
    throw std::runtime_error("cannot write the recording " + path + ": " + std::strerror(errno));
  const std::string header = Header() + "\n";
  std::fputs(header.c_str(), file_);
  std::fflush(file_);
}

TOutputCsvWriter::~TOutputCsvWriter() {
  if (file_) std::fclose(file_);
}

std::string TOutputCsvWriter::Header() {
  return "time_s,channel,voltage_V,current_limit_A,output";
}

std::string TOutputCsvWriter::Line(const TOutputChange& change) {
  return FormatShortest(change.Time) + "," + std::to_string(change.Channel) + "," +
         FormatShortest(change.State.Voltage) + "," + FormatShortest(change.State.CurrentLimit) +
         "," + (change.State.On ? "1" : "0");
}

void TOutputCsvWriter::Write(const TOutputChange& change) {
  const std::string line = Line(change) + "\n";
  std::lock_guard guard(lock_);
  std::fputs(line.c_str(), file_);
  std::fflush(file_);
}

}  // namespace ondrevo::sim
