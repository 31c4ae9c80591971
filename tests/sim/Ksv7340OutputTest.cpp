// What the family-C simulator's terminals deliver, checked against a model of its own: random
// command sequences (set values, output, channel, lists, start, pause, stop, time passing) on a
// clock moved by hand. The model lays out each run as a schedule of point starts in advance;
// the simulator walks its run as lines arrive. Both must note the same changes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "sim/Ksv7340Sim.h"

namespace ondrevo::sim {
namespace {

// Millis as the three-decimal text a driver sends.
std::string Text(int millis) {
  const std::string frac = std::to_string(1000 + millis % 1000).substr(1);
  return std::to_string(millis / 1000) + "." + frac;
}
double Value(int millis) {
  return millis / 1000.0;
}

class Model {
 public:
  explicit Model(int channels) : out_(channels), set_(channels), last_(channels) {
    for (int c = 0; c < channels; ++c) Note(0, c);
  }

  struct Point {
    double V, I, Dwell;
  };
  struct Entry {
    double Time;
    int Index, Repetition;
  };

  std::vector<TOutputChange> Changes;

  void Volt(double t, double v) { SetValue(t, v, true); }
  void Curr(double t, double i) { SetValue(t, i, false); }
  void Output(double t, bool on) {
    Advance(t);
    out_[channel_] = on;
    Note(t, channel_);
  }
  void Select(int channel) { channel_ = channel; }
  // From index 0 on; the rest of the memory stays.
  void Write(const std::vector<Point>& points) {
    std::copy(points.begin(), points.end(), memory_.begin());
  }
  void Block(int last, int count) {
    blockLast_ = last;
    count_ = count;
  }
  void Init(double t) {
    Advance(t);
    armed_ = armed_ || !running_;
  }
  void Trigger(double t) {
    Advance(t);
    if (!armed_ || running_) return;
    armed_ = false;
    running_ = true;
    points_.assign(memory_.begin(), memory_.begin() + blockLast_ + 1);
    runCount_ = count_;
    runChannel_ = channel_;
    int index = 0, repetition = 1;
    // A pause resumes only on the block it interrupted.
    if (resume_ && resumeLast_ == blockLast_ && (runCount_ == 0 || resume_->second <= runCount_))
      index = resume_->first, repetition = resume_->second;
    resume_.reset();
    resumeLast_ = blockLast_;
    // The whole run ahead, or far enough for an endless one.
    schedule_.clear();
    next_ = 0;
    double time = t;
    while (runCount_ == 0 ? time < t + 200 : repetition <= runCount_) {
      schedule_.push_back({time, index, repetition});
      time += points_[static_cast<std::size_t>(index)].Dwell;
      if (++index == static_cast<int>(points_.size())) index = 0, ++repetition;
    }
    end_ = runCount_ == 0 ? INFINITY : time;
    Advance(t);
  }
  void Abort(double t) {
    Advance(t);
    armed_ = false;
    if (!running_) return;
    running_ = false;
    resume_ = std::make_pair(current_.Index, current_.Repetition);
    Note(t, runChannel_);
  }
  void Clear(double t) {
    Abort(t);
    resume_.reset();
  }
  void Advance(double t) {
    if (!running_) return;
    while (next_ < schedule_.size() && schedule_[next_].Time <= t) {
      current_ = schedule_[next_++];
      Note(current_.Time, runChannel_);
    }
    if (end_ <= t) {
      running_ = false;
      resume_.reset();
      Note(end_, runChannel_);
    }
  }
  bool Running() const { return running_; }

 private:
  void SetValue(double t, double x, bool voltage) {
    Advance(t);
    (voltage ? set_[channel_].first : set_[channel_].second) = x;
    Note(t, channel_);
  }
  TOutputState State(int c) const {
    const auto k = static_cast<std::size_t>(c);
    if (running_ && c == runChannel_) {
      const Point& p = points_[static_cast<std::size_t>(current_.Index)];
      return {p.V, p.I, out_[k]};
    }
    return {set_[k].first, set_[k].second, out_[k]};
  }
  void Note(double t, int c) {
    const TOutputState state = State(c);
    auto& last = last_[static_cast<std::size_t>(c)];
    if (last && *last == state) return;
    last = state;
    Changes.push_back({t, c, state});
  }

  std::vector<bool> out_;
  std::vector<std::pair<double, double>> set_;
  std::vector<std::optional<TOutputState>> last_;
  int channel_ = 0;
  std::vector<Point> memory_ = std::vector<Point>(1000, Point{0, 0, 0.01});
  int blockLast_ = 0, count_ = 1;
  bool armed_ = false, running_ = false;
  std::vector<Point> points_;
  int runCount_ = 1, runChannel_ = 0;
  std::vector<Entry> schedule_;
  std::size_t next_ = 0;
  Entry current_{};
  double end_ = 0;
  std::optional<std::pair<int, int>> resume_;
  int resumeLast_ = -1;
};

std::vector<TOutputChange> OfChannel(const std::vector<TOutputChange>& all, int channel) {
  std::vector<TOutputChange> out;
  for (const auto& c : all)
    if (c.Channel == channel) out.push_back(c);
  return out;
}

TEST(Ksv7340Output, RandomCommandSequencesAgainstAModel) {
  for (unsigned seed = 1; seed <= 300; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    auto pick = [&](int low, int high) {
      return std::uniform_int_distribution<int>(low, high)(random);
    };
    TManualClock clock;
    TKsv7340Sim sim(seed % 2 ? "KSV 7342-80" : "KSV 7341-20", "1", clock.Function());
    Model model(sim.Channels());
    std::vector<std::string> lines;
    auto send = [&](const std::string& line) {
      lines.push_back(line);
      sim.HandleLine(line);
    };
    send("LIST:SEQ:STAT ON");
    int millis = 0;  // the clock, in whole milliseconds so that no sum is rounded twice
    for (int step = 0; step < 60; ++step) {
      const double t = Value(millis);
      model.Advance(t);
      switch (pick(0, 11)) {
        case 0: {
          const int v = pick(0, 20000);
          send("VOLT " + Text(v));
          model.Volt(t, Value(v));
          break;
        }
        case 1: {
          const int i = pick(0, 5000);
          send("CURR " + Text(i));
          model.Curr(t, Value(i));
          break;
        }
        case 2: {
          const bool on = pick(0, 3) != 0;
          send(on ? "OUTP ON" : "OUTP OFF");
          model.Output(t, on);
          break;
        }
        case 3:
          if (sim.Channels() == 2) {
            const int channel = pick(1, 2);
            send("INST:NSEL " + std::to_string(channel));
            model.Select(channel - 1);
          }
          break;
        case 4: {
          const int n = pick(1, 6);
          std::vector<Model::Point> points;
          std::string v = "LIST:VOLT 0", c = "LIST:CURR 0", d = "LIST:DWEL 0";
          for (int k = 0; k < n; ++k) {
            const int pv = pick(0, 4) * 250, pc = pick(1, 3) * 100, pd = pick(1, 50) * 10;
            v += "," + Text(pv);
            c += "," + Text(pc);
            d += "," + Text(pd);
            points.push_back({Value(pv), Value(pc), Value(pd)});
          }
          send(v + ";*OPC?");
          send(c + ";*OPC?");
          send(d + ";*OPC?");
          model.Write(points);
          if (!model.Running()) {
            const int count = pick(0, 3);
            send("LIST:BLOC 0,0," + std::to_string(n - 1) + "," +
                 (count == 0 ? std::string("INF") : std::to_string(count)));
            model.Block(n - 1, count);
          }
          break;
        }
        case 5:
        case 6:
          send("INIT");
          model.Init(t);
          send("*TRG");
          model.Trigger(t);
          break;
        case 7:
          send("ABOR");
          model.Abort(t);
          break;
        case 8:
          send("ABOR");
          send("LIST:SEQ:CLE");
          model.Clear(t);
          break;
        default:
          millis += pick(0, 3000);
          clock.Set(Value(millis));
          if (pick(0, 2) == 0) sim.SettleOutput();
          break;
      }
    }
    millis += 5000;
    clock.Set(Value(millis));
    sim.SettleOutput();
    model.Advance(Value(millis));

    const auto got = sim.Output().Changes();
    for (int channel = 0; channel < sim.Channels(); ++channel) {
      const auto a = OfChannel(got, channel), b = OfChannel(model.Changes, channel);
      auto show = [](const std::vector<TOutputChange>& changes) {
        std::string text;
        for (const auto& c : changes)
          text += "\n  " + std::to_string(c.Time) + " " + std::to_string(c.State.Voltage) + " " +
                  std::to_string(c.State.CurrentLimit) + (c.State.On ? " on" : " off");
        return text;
      };
      std::string sent;
      for (const auto& line : lines) sent += "\n  " + line;
      ASSERT_EQ(a.size(), b.size()) << "channel " << channel << "\nsimulator:" << show(a)
                                    << "\nmodel:" << show(b) << "\nlines:" << sent;
      for (std::size_t k = 0; k < a.size(); ++k) {
        ASSERT_NEAR(a[k].Time, b[k].Time, 1e-9) << "channel " << channel << " change " << k;
        ASSERT_EQ(a[k].State, b[k].State) << "channel " << channel << " change " << k;
      }
    }
  }
}

// Commands that cannot change the output say so; those that do, do not.
TEST(Ksv7340Output, CommandsWithoutEffectAreWarnedAbout) {
  TManualClock clock;
  TKsv7340Sim sim("KSV 7342-80", "1", clock.Function());
  for (const char* line :
       {"LIST:SEQ:STAT ON", "VOLT 1.000", "OUTP ON", "LIST:VOLT 0,2.000;*OPC?", "LIST:BLOC 0,0,0,1",
        "LIST:SEQ:TERM FIRS", "INIT:CONT OFF", "TRIG:SOUR BUS"})
    sim.HandleLine(line);
  EXPECT_TRUE(sim.Warnings().empty()) << sim.Warnings().front();
  const std::vector<std::pair<const char*, const char*>> idle = {
      {"SYST:LANG CIIL", "SYST:LANG CIIL"},
      {"LIST:SEQ:OPEN:MODE NORM", "LIST:SEQ:OPEN:MODE"},
      {"*TRG", "*TRG"},
      {"ABOR", "ABOR"},
      {"LIST:BLOC 3,0,0,1", "LIST:BLOC 3"}};
  for (const auto& [line, warning] : idle) {
    sim.ClearWarnings();
    sim.HandleLine(line);
    ASSERT_EQ(sim.Warnings().size(), 1u) << line;
    EXPECT_TRUE(sim.Warnings().front().starts_with(warning)) << sim.Warnings().front();
  }
  sim.HandleLine("INIT");
  sim.HandleLine("*TRG");
  sim.ClearWarnings();
  const auto before = sim.Output().Changes().size();
  sim.HandleLine("VOLT 3.000");
  sim.HandleLine("LIST:VOLT 0,4.000;*OPC?");
  sim.Trigger();
  EXPECT_EQ(sim.Warnings().size(), 3u);
  EXPECT_EQ(sim.Output().Changes().size(), before) << "the list holds the output";
  // The list point in force, then the new set value once the run is over.
  clock.Set(1);
  sim.SettleOutput();
  EXPECT_EQ(sim.Output().Last(0), (TOutputState{3, 0, true}));
  EXPECT_EQ(sim.Output().Changes().back().Time, 0.01);
}

// Continuous initiation re-arms after each run; with an immediate trigger it plays on.
TEST(Ksv7340Output, ContinuousInitiationStartsAgain) {
  TManualClock clock;
  TKsv7340Sim sim("KSV 7341-20", "1", clock.Function());
  for (const char* line : {"LIST:SEQ:STAT ON", "OUTP ON", "LIST:VOLT 0,1.000,2.000;*OPC?",
                           "LIST:DWEL 0,0.500,0.500;*OPC?", "LIST:BLOC 0,0,1,1", "INIT:CONT ON",
                           "TRIG:SOUR IMM", "INIT"})
    sim.HandleLine(line);
  clock.Set(2.25);
  sim.SettleOutput();
  std::vector<double> times, volts;
  for (const auto& c : sim.Output().Changes())
    times.push_back(c.Time), volts.push_back(c.State.Voltage);
  // Each run ends at the set value (0 V) at the instant the next one begins with 1 V.
  EXPECT_EQ(volts, (std::vector<double>{0, 0, 1, 2, 0, 1, 2, 0, 1}));
  EXPECT_EQ(times.back(), 2.0);
  EXPECT_EQ(sim.Starts(), 3);
}

}  // namespace
}  // namespace ondrevo::sim
