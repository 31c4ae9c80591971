// The NI-488.2 C interface as the GPIB transport uses it: constants and entry-point types. Shared
// by the binding and the simulated library that stands in for it.
#pragma once

namespace ondrevo::gpib {

// Status word bits.
inline constexpr int ERR = 0x8000;
inline constexpr int TIMO = 0x4000;
inline constexpr int END = 0x2000;
inline constexpr int CMPL = 0x0100;
inline constexpr int CIC = 0x0020;
// Status byte bits.
inline constexpr int MAV = 0x10;
inline constexpr int READY = 0x80;  // bit 7: set while the instrument does not run a waveform
// Error codes.
inline constexpr int EDVR = 0;
inline constexpr int ENOL = 2;
inline constexpr int EARG = 4;
inline constexpr int EABO = 6;
inline constexpr int EBUS = 14;
// ibask and ibconfig options; time-out code of one second.
inline constexpr int IbaPAD = 1;
inline constexpr int IbaSC = 10;
inline constexpr int IbcTMO = 3;
inline constexpr int IbcSRE = 11;
inline constexpr int T1s = 11;
inline constexpr int NO_SAD = 0;

extern "C" {
using ibask_t = int (*)(int ud, int option, int* value);
using ibclr_t = int (*)(int ud);
using ibconfig_t = int (*)(int ud, int option, int value);
using ibdev_t = int (*)(int board, int pad, int sad, int tmo, int eot, int eos);
using ibfind_t = int (*)(const char* name);
using ibln_t = int (*)(int ud, int pad, int sad, short* listen);
using ibloc_t = int (*)(int ud);
using ibonl_t = int (*)(int ud, int value);
using ibrd_t = int (*)(int ud, void* buffer, long count);
using ibrsp_t = int (*)(int ud, char* statusByte);
using ibsic_t = int (*)(int ud);
using ibsre_t = int (*)(int ud, int value);
using ibtmo_t = int (*)(int ud, int value);
using ibwrt_t = int (*)(int ud, const void* buffer, long count);
using thread_status_t = int (*)();
}

}  // namespace ondrevo::gpib
