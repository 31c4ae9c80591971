// ondrevo-cli sim: serves a simulated instrument on a pty or a local TCP port until killed.
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>

#include "cli/Commands.h"
#include "devices/ModelTables.h"
#include "document/Numbers.h"
#include "document/Text.h"
#include "sim/Front.h"
#include "sim/Meter.h"
#include "sim/VxiFront.h"

namespace ondrevo::cli {

namespace {

struct TSimOptions {
  std::string Model;
  std::string Serial = "100001";
  bool Pty = false;
  int TcpPort = -1;
  bool Vxi11 = false;
  std::string Link;
  std::string Speed = "1";
  std::string LogPath;
  std::string RecordPath;
  bool NoReply = false;
  int LateReplyMs = 0;
  bool PartialLine = false;
  std::size_t GarbageBytes = 0;
  long long HangUpAfter = -1;
  int FaultReplies = -1;
  int FaultAfter = 0;
  bool CrLf = false;
  std::string ListError;
  std::string MaxVoltageReply;
  bool IgnoreStop = false;
  std::string Load;
  bool Meter = false;
  int MeterTcp = -1;
  int WiredTo = 1;
  std::string Noise;
  unsigned long long Seed = 1;
};

int RunSim(const TSimOptions& o) {
  if (o.Pty == (o.TcpPort >= 0)) {
    std::cerr << "ondrevo-cli sim: give exactly one of --pty and --tcp PORT\n";
    return 2;
  }
  if (o.Vxi11 && o.TcpPort < 0) {
    std::cerr << "ondrevo-cli sim: --vxi11 needs --tcp PORT\n";
    return 2;
  }
  if (!o.Link.empty() && !o.Pty) {
    std::cerr << "ondrevo-cli sim: --link needs --pty\n";
    return 2;
  }
  // The link is removed when the simulation ends: it must not replace (and so delete) a file.
  struct stat existing {};
  if (!o.Link.empty() && ::lstat(o.Link.c_str(), &existing) == 0)
    return Fail("--link: " + EscapeControls(o.Link) +
                " exists already; give a path where nothing is (it is removed again on exit)");
  double speed = 0;
  if (!TryParseNumber(o.Speed, speed) || !(speed > 0)) {
    std::cerr << "ondrevo-cli sim: --speed needs a number greater than 0\n";
    return 2;
  }

  // Block the ending signals before any thread starts, so that only sigwait below sees them.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  sigaddset(&signals, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  std::shared_ptr<sim::TSimInstrument> instrument;
  // One clock for the supply and its meter: the meter reads the supply's record on it.
  const sim::TSimClock clock = sim::MakeScaledClock(speed);
  try {
    instrument = sim::CreateSimInstrument(o.Model, o.Serial, clock);
  } catch (const std::invalid_argument& e) {
    return Fail(std::string(e.what()) + " Known models: " + KnownSupplyModels());
  }
  sim::TMeterNoise noise;
  try {
    if (!o.Load.empty()) instrument->SetLoad(sim::ParseLoad(o.Load));
    if (!o.Noise.empty()) noise = sim::ParseNoise(o.Noise);
  } catch (const std::invalid_argument& e) {
    std::cerr << "ondrevo-cli sim: " << e.what() << "\n";
    return 2;
  }
  noise.Seed = o.Seed;
  instrument->SetInstrumentFaults({o.ListError, o.MaxVoltageReply});
  instrument->SetStopIgnored(o.IgnoreStop);
  auto log = std::make_shared<std::ofstream>();
  if (!o.LogPath.empty()) {
    log->open(o.LogPath, std::ios::out | std::ios::trunc);
    if (!*log) return Fail("Cannot write the log file " + o.LogPath);
    auto mutex = std::make_shared<std::mutex>();
    instrument->SetLineListener([log, mutex](const std::string& line) {
      std::lock_guard lock(*mutex);
      *log << line << '\n';
      log->flush();
    });
  }

  // The record is written as it grows; a list that plays is brought up to the clock below.
  std::unique_ptr<sim::TOutputCsvWriter> record;
  if (!o.RecordPath.empty()) {
    try {
      record = std::make_unique<sim::TOutputCsvWriter>(o.RecordPath);
    } catch (const std::runtime_error& e) {
      return Fail(e.what());
    }
    for (const auto& change : instrument->Output().Changes()) record->Write(change);
    instrument->Output().SetListener(
        [writer = record.get()](const sim::TOutputChange& change) { writer->Write(change); });
  }

  sim::TSimFaults faults;
  faults.NoReply = o.NoReply;
  faults.LateReplyMs = o.LateReplyMs;
  faults.PartialLine = o.PartialLine;
  faults.GarbageBytes = o.GarbageBytes;
  faults.HangUpAfterBytes = o.HangUpAfter;
  faults.Replies = o.FaultReplies;
  faults.SpareReplies = o.FaultAfter;
  faults.CrLf = o.CrLf;
  // Faults are in place before the endpoint is printed, so no client can get ahead of them.
  std::unique_ptr<sim::TSimFront> front;
  std::unique_ptr<sim::TVxiFront> vxi;
  if (o.Pty) {
    auto pty = std::make_unique<sim::TPtyFront>(instrument, o.Link);
    pty->SetFaults(faults);
    std::cout << pty->Path() << std::endl;
    front = std::move(pty);
  } else {
    auto tcp = std::make_unique<sim::TTcpFront>(instrument, o.TcpPort);
    tcp->SetFaults(faults);
    if (o.Vxi11) {
      // One client at a time over either front.
      auto slot = std::make_shared<sim::TClientSlot>();
      tcp->SetClientSlot(slot);
      vxi = std::make_unique<sim::TVxiFront>(instrument, slot);
      vxi->SetSilent(o.NoReply);
    }
    std::cout << tcp->Port() << std::endl;
    if (vxi)
      std::cout << "vxi11 " << vxi->Port() << (vxi->Registered() ? "" : " unregistered")
                << std::endl;
    if (vxi && !vxi->Registered())
      std::cerr << "ondrevo-cli sim: no port mapper runs on this host, so VXI-11 clients cannot "
                   "find the instrument (start rpcbind)\n";
    front = std::move(tcp);
  }

  // The meter's endpoint is the second line.
  std::unique_ptr<sim::TSimFront> meterFront;
  if (o.Meter || o.MeterTcp >= 0) {
    auto meter = std::make_shared<sim::TSimMeter>(instrument, o.WiredTo - 1, clock, noise);
    if (o.MeterTcp >= 0) {
      auto tcp = std::make_unique<sim::TTcpFront>(meter, o.MeterTcp);
      std::cout << tcp->Port() << std::endl;
      meterFront = std::move(tcp);
    } else {
      auto pty = std::make_unique<sim::TPtyFront>(meter, "");
      std::cout << pty->Path() << std::endl;
      meterFront = std::move(pty);
    }
  }

  // SIGUSR1 fires the instrument's trigger input; the others end the simulation. While
  // recording, a playing list is written out as it goes, not only when the next line arrives.
  const timespec settleEvery{0, 200'000'000};
  for (;;) {
    const int received = record ? sigtimedwait(&signals, nullptr, &settleEvery) : [&] {
      int number = 0;
      sigwait(&signals, &number);
      return number;
    }();
    if (received < 0) {
      instrument->SettleOutput();
      continue;
    }
    if (received != SIGUSR1) break;
    instrument->Trigger();
  }
  meterFront.reset();
  vxi.reset();
  front.reset();
  // Up to the end: what played until the signal is in the file.
  instrument->SettleOutput();
  instrument->Output().SetListener(nullptr);
  return 0;
}

}  // namespace

void RegisterSimCommand(CommandRegistry& registry) {
  auto* sub = registry.app.add_subcommand(
      "sim",
      "Serve a simulated instrument on a pseudo-terminal or a TCP port until killed; SIGUSR1 "
      "fires its trigger input");
  auto o = std::make_shared<TSimOptions>();
  sub->add_option("--model", o->Model, "Instrument model, e.g. \"KSV 7342-80\"")->required();
  sub->add_option("--serial", o->Serial, "Serial number in the identification reply");
  sub->add_flag("--pty", o->Pty, "Serve on a new pseudo-terminal; prints its path");
  sub->add_option("--tcp", o->TcpPort, "Serve on 127.0.0.1 at this port (0: any); prints it")
      ->check(CLI::Range(0, 65535));
  sub->add_flag("--vxi11", o->Vxi11,
                "With --tcp: also serve VXI-11, registered with the port mapper; prints "
                "\"vxi11 PORT\" as the second line");
  sub->add_option("--link", o->Link,
                  "Keep a symbolic link to the pty here (stable across hang-ups)");
  sub->add_option("--speed", o->Speed, "Playback speed relative to real time");
  sub->add_option("--log", o->LogPath, "Write every received line to this file");
  sub->add_option("--record", o->RecordPath,
                  "Write what the output delivers to this CSV file at every change: "
                  "time_s,channel,voltage_V,current_limit_A,output (instrument time)");
  sub->add_flag("--no-reply", o->NoReply, "Fault: never answer queries");
  sub->add_option("--late-reply", o->LateReplyMs, "Fault: answer this many milliseconds late")
      ->check(CLI::Range(0, 3600000));
  sub->add_flag("--partial-line", o->PartialLine, "Fault: send half of each reply, no line feed");
  sub->add_option("--garbage", o->GarbageBytes, "Fault: answer with this many bytes of garbage");
  sub->add_option("--hang-up-after", o->HangUpAfter,
                  "Fault: hang up once this many bytes were received")
      ->check(CLI::NonNegativeNumber);
  sub->add_option("--fault-replies", o->FaultReplies,
                  "Reply faults hit only this many replies (default: all)")
      ->check(CLI::NonNegativeNumber);
  sub->add_option("--fault-after", o->FaultAfter,
                  "Reply faults start after this many sound replies (default: 0)")
      ->check(CLI::NonNegativeNumber);
  sub->add_flag("--crlf", o->CrLf, "End replies with CR LF instead of LF");
  sub->add_option("--list-error", o->ListError,
                  "Fault: refuse every list write with this error, which the error query then "
                  "reports (family C: '-222,\"Data out of range\"'; families A and B: a code)");
  sub->add_option("--max-voltage-reply", o->MaxVoltageReply,
                  "Fault: answer the maximum-voltage query with this text");
  sub->add_flag("--ignore-stop", o->IgnoreStop,
                "Fault: take stop commands but play on, never reporting a stop");
  sub->add_option("--load", o->Load,
                  "Load on the terminals, e.g. 10ohm or 10ohm,100uF (measurement queries and a "
                  "meter read through it)");
  sub->add_flag("--meter", o->Meter,
                "Also serve a meter wired to the supply's output on a new pseudo-terminal; "
                "prints its path as the second line");
  sub->add_option("--meter-tcp", o->MeterTcp, "Serve the meter on this TCP port instead")
      ->check(CLI::Range(0, 65535));
  sub->add_option("--wired-to", o->WiredTo, "The supply's output the meter reads (default 1)")
      ->check(CLI::Range(1, 2));
  sub->add_option("--noise", o->Noise, "The meter's noise, e.g. 0.005V,0.0005A");
  sub->add_option("--seed", o->Seed, "Seed of the meter's noise (default 1)");
  registry.Add(sub, [o] { return RunSim(*o); });
}

}  // namespace ondrevo::cli
