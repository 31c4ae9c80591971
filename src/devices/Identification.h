// The identification reply parser shared by the scanners of every bus.
#pragma once

#include <string>
#include <string_view>

namespace ondrevo {

struct TIdentification {
  std::string Model;  // "KSV 7342-80": a blank after the product prefix
  std::string SerialNumber;
};

// True when the reply names the maker (case-sensitive substring test).
bool IsMakerReply(std::string_view reply);

// Model and serial of a reply "KESTRAVO,KSV7342-80,123456,1.02": the model starts at the 10th
// character of the first line and a lone "KSV" gets a blank appended.
TIdentification ParseIdentification(std::string_view reply);

}  // namespace ondrevo
