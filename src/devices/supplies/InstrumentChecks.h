// What the supply families check in an instrument's answers before they rely on them: the
// limits it reports and the errors it has queued.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

namespace ondrevo {

// Supplies report their maxima slightly above the nominal rating (a 20 V model may say 20.4 V);
// more than this share above it is no limit of that model.
inline constexpr double kRatingMargin = 1.05;

enum class TQuantity { Voltage, Current };

// A maximum the instrument reports: refused when it is not a finite number above 0 or exceeds
// the model's rating by more than the margin (a rating of 0, an unknown model, bounds nothing).
// Returns the value.
double CheckReportedMaximum(double reported, double rating, TQuantity quantity);
// A minimum the instrument reports: refused when it is negative, not finite or not below the
// maximum. Returns the value.
double CheckReportedMinimum(double reported, double maximum, TQuantity quantity);

// True when a reply to the error query says "no error": SCPI "0,..." or the short command
// sets' bare "0".
bool IsNoErrorReply(std::string_view reply);

// Empties the instrument's error queue through `query` (one reply per call, at most a queue's
// length) and raises the first error it held, with the instrument's own text. Errors whose
// numeric code is in `harmless` are emptied but not raised.
void RaiseQueuedError(const std::function<std::string()>& query,
                      std::initializer_list<std::int64_t> harmless = {});

}  // namespace ondrevo
