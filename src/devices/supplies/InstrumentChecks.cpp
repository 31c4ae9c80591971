#include "devices/supplies/InstrumentChecks.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <stdexcept>

#include "document/Numbers.h"
#include "document/Text.h"
#include "document/Translate.h"

namespace ondrevo {

namespace {

// Error queues hold 20 to 30 entries; a queue that never empties is no reason to wait forever.
constexpr int kMostErrorReads = 64;

const char* Unit(TQuantity quantity) {
  return quantity == TQuantity::Voltage ? "V" : "A";
}

}  // namespace

double CheckReportedMaximum(double reported, double rating, TQuantity quantity) {
  const bool volts = quantity == TQuantity::Voltage;
  const bool usable = std::isfinite(reported) && reported > 0 &&
                      (!(rating > 0) || reported <= rating * kRatingMargin);
  if (usable) return reported;
  std::string text = volts ? _("The instrument reports an unusable maximum voltage:")
                           : _("The instrument reports an unusable maximum current:");
  text += " " + FormatGeneral(reported) + " " + Unit(quantity);
  if (rating > 0)
    text += std::string(" (") + _("the model is rated up to") + " " + FormatGeneral(rating) + " " +
            Unit(quantity) + ")";
  throw std::runtime_error(text + ".");
}

double CheckReportedMinimum(double reported, double maximum, TQuantity quantity) {
  if (std::isfinite(reported) && reported >= 0 && reported < maximum) return reported;
  const bool volts = quantity == TQuantity::Voltage;
  std::string text = volts ? _("The instrument reports an unusable minimum voltage:")
                           : _("The instrument reports an unusable minimum current:");
  throw std::runtime_error(text + " " + FormatGeneral(reported) + " " + Unit(quantity) + ".");
}

namespace {

std::optional<std::int64_t> ErrorCode(std::string_view reply) {
  reply = Trim(reply);
  std::int64_t code = 0;
  if (!TryParseInteger(Trim(reply.substr(0, reply.find(','))), code)) return std::nullopt;
  return code;
}

}  // namespace

bool IsNoErrorReply(std::string_view reply) {
  return ErrorCode(reply) == std::int64_t{0};
}

void RaiseQueuedError(const std::function<std::string()>& query,
                      std::initializer_list<std::int64_t> harmless) {
  std::optional<std::string> first;
  for (int k = 0; k < kMostErrorReads; ++k) {
    std::string reply = query();
    if (IsNoErrorReply(reply)) break;
    const auto code = ErrorCode(reply);
    if (code && std::find(harmless.begin(), harmless.end(), *code) != harmless.end()) continue;
    if (!first) first = std::string(Trim(reply));
  }
  // The reply is the instrument's own text: cut and cleaned before it reaches a message.
  if (first)
    throw std::runtime_error(_("The instrument reports an error:") + (" " + ShowForeign(*first)));
}

}  // namespace ondrevo
