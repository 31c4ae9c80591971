// Control entry points of the simulated analog output card library (libondrevo-daqmx-sim.so).
// Besides the DAQmx functions the program calls, the library exports these for tests and the
// demo mode: they load the same library (dlopen of the same path gives the same copy) and
// steer it with dlsym.
#pragma once

#include <cstdint>

extern "C" {

// Replaces the cards. One card per line, blank lines and lines starting with '#' ignored:
//   NAME PRODUCT-TYPE [serial=HEX] [ao=N] [maxrate=S/s] [minrate=S/s] [ranges=LO,HI,...]
//          [dilines=N] [pfi=N]
// Clears recordings, tasks are left alone. Returns 0, or -1 for a line it cannot read.
// Without a call the cards come from ONDREVO_DAQMX_SIM_CARDS (the same lines, separated by
// ';'), else the file named by ONDREVO_DAQMX_SIM_CONFIG, else one two-output card "Dev1".
int OndrevoDaqSimConfigure(const char* text);
// Sample clocks run `speed` times real time (default 1, or ONDREVO_DAQMX_SIM_SPEED).
void OndrevoDaqSimSetSpeed(double speed);
// An edge on a digital input line, e.g. "Dev1/port0/line0".
void OndrevoDaqSimFireTrigger(const char* line, int rising);
// The card disappears: every call that uses it fails from now on.
void OndrevoDaqSimRemoveCard(const char* card);
// A stalled card's clock stands still, so writes into a full buffer time out.
void OndrevoDaqSimStallCard(const char* card, int stalled);
// Writes what every output channel plays to FOLDER/<card>-<channel, '/' as '_'>.csv, one line per
// change "time_s,channel,voltage_V,current_limit_A,output" (time on the card's clock, current
// limit 0, output 1 while a task drives the channel); an empty folder stops recording. Without
// a call the folder is ONDREVO_SIM_RECORD, when set.
void OndrevoDaqSimSetRecordFolder(const char* folder);
// Keep at most this many samples per channel in the recording (counting goes on).
void OndrevoDaqSimSetRecordLimit(uint64_t samples);
// Samples output on a physical channel ("Dev1/ao0") so far; copies up to `max` into out.
uint64_t OndrevoDaqSimSamples(const char* channel, double* out, uint64_t max);
// The value a channel holds now (0 before any output).
double OndrevoDaqSimLastValue(const char* channel);
// The start-trigger edge (the C reference's 10280 rising, 10171 falling) of the task that
// outputs on the channel, 0 when it has no start trigger.
int OndrevoDaqSimStartTriggerEdge(const char* channel);
// Times a running generation of the card ran out of samples.
int OndrevoDaqSimUnderruns(const char* card);
// Tasks created and not cleared.
int OndrevoDaqSimOpenTasks(void);
// Forgets recordings and underruns.
void OndrevoDaqSimClearRecording(void);
}
