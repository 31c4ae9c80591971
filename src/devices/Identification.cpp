#include "devices/Identification.h"

namespace ondrevo {

bool IsMakerReply(std::string_view reply) {
  return reply.find("KESTRAVO") != std::string_view::npos;
}

TIdentification ParseIdentification(std::string_view reply) {
  const auto end = reply.find_first_of("\r\n");
  const std::string_view line = end == std::string_view::npos ? reply : reply.substr(0, end);
  TIdentification id;
  std::size_t i = 9;
  for (; i < line.size() && line[i] != ','; ++i) {
    id.Model += line[i];
    if (id.Model == "KSV") id.Model += ' ';
  }
  for (++i; i < line.size() && line[i] != ','; ++i) id.SerialNumber += line[i];
  return id;
}

}  // namespace ondrevo
