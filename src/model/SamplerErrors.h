// What the samplers say when a curve cannot be sampled; shared by their source files only.
#pragma once

#include <string>

#include "document/Numbers.h"
#include "model/Samplers.h"

namespace ondrevo {

constexpr double kEps = kSamplerEpsilon;

[[noreturn]] inline void NotFinite(const std::string& which, double time) {
  throw ESamplerError(which + " has no finite value at " + FormatGeneral(time) + " s.");
}

}  // namespace ondrevo
