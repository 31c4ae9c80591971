#include "devices/Identification.h"

#include "document/Text.h"

namespace ondrevo {

namespace {

constexpr std::string_view kMaker = "KESTRAVO";

}  // namespace

bool IsMakerReply(std::string_view reply) {
  return reply.find(kMaker) != std::string_view::npos;
}

TIdentification ParseIdentification(std::string_view reply) {
  // The first line that names the maker; the model is the field after the maker's name, so text
  // before the name (an echo, noise on the line) does not shift it.
  std::string_view line;
  for (std::size_t pos = 0; pos <= reply.size();) {
    auto end = reply.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = reply.size();
    line = reply.substr(pos, end - pos);
    if (line.find(kMaker) != std::string_view::npos) break;
    pos = end + 1;
  }
  TIdentification id;
  const std::size_t maker = line.find(kMaker);
  if (maker == std::string_view::npos) return id;
  const std::size_t comma = line.find(',', maker + kMaker.size());
  if (comma == std::string_view::npos) return id;
  std::size_t i = comma + 1;
  std::string model, serial;
  for (; i < line.size() && line[i] != ','; ++i) {
    model += line[i];
    if (model == "KSV") model += ' ';
  }
  for (++i; i < line.size() && line[i] != ','; ++i) serial += line[i];
  // Both are shown in lists and messages: short, one line, no control bytes.
  id.Model = ShowForeign(model, kMaxIdentificationField);
  id.SerialNumber = ShowForeign(serial, kMaxIdentificationField);
  return id;
}

}  // namespace ondrevo
