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
  // before the name (an echo, noise on the line) does not shift it. An entry without the name
  // (the USB library's list) has its model from the 10th character of its first line.
  const auto firstEnd = reply.find_first_of("\r\n");
  std::string_view line = reply.substr(0, firstEnd);
  std::size_t i = 9;
  for (std::size_t pos = 0; pos <= reply.size();) {
    auto end = reply.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = reply.size();
    const std::string_view candidate = reply.substr(pos, end - pos);
    if (const auto maker = candidate.find(kMaker); maker != std::string_view::npos) {
      line = candidate;
      const std::size_t comma = line.find(',', maker + kMaker.size());
      i = comma == std::string_view::npos ? line.size() : comma + 1;
      break;
    }
    pos = end + 1;
  }
  TIdentification id;
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
