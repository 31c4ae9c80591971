// The identification reply parser shared by the scanners of every bus.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ondrevo {

struct TIdentification {
  std::string Model;  // "KSV 7342-80": a blank after the product prefix
  std::string SerialNumber;
};

// True when the reply names the maker (case-sensitive substring test).
bool IsMakerReply(std::string_view reply);

// Bytes of a model or serial number kept from a reply (longer ones are cut, see ShowForeign).
inline constexpr std::size_t kMaxIdentificationField = 40;

// Model and serial of a reply "KESTRAVO,KSV7342-80,123456,1.02": the fields after the maker's
// name on the first line that names it; a lone "KSV" gets a blank appended. Both are cut to
// kMaxIdentificationField bytes with control bytes escaped; empty when the reply has none.
TIdentification ParseIdentification(std::string_view reply);

}  // namespace ondrevo
