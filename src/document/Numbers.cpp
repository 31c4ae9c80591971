#include "document/Numbers.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "document/Text.h"
#include "document/Translate.h"

namespace ondrevo {

namespace {

std::string ConversionMessage(std::string_view text) {
  std::string msg = _("'%s' is not a valid floating point value");
  auto pos = msg.find("%s");
  if (pos != std::string::npos) msg.replace(pos, 2, ShowForeign(text));
  return msg;
}

// The exact decimal expansion of |value| as digits with the position of the decimal point.
// A double m * 2^e (m odd) has exactly max(0, -e) fraction digits, so asking for just those
// gives every non-zero digit without the 1074-digit worst case on every call.
struct Decimal {
  std::vector<int> digits;  // most significant first
  int point = 0;            // number of digits before the decimal point
};

int FractionDigits(double magnitude) {
  if (magnitude == 0) return 0;
  int exp = 0;
  const double mantissa = std::frexp(magnitude, &exp);  // magnitude = mantissa * 2^exp
  auto bits = static_cast<std::uint64_t>(std::ldexp(mantissa, 64 - 11));  // 53 bits, exact
  int lowest = exp - 53;  // exponent of the mantissa's last bit
  while (bits != 0 && (bits & 1) == 0) {
    bits >>= 1;
    ++lowest;
  }
  return std::max(0, -lowest);
}

Decimal ExactDecimal(double magnitude) {
  const int fraction = FractionDigits(magnitude);
  char stack[512];
  std::vector<char> heap;
  char* buf = stack;
  std::size_t size = sizeof stack;
  if (fraction + 320 > static_cast<int>(size)) {
    heap.resize(static_cast<std::size_t>(fraction) + 400);
    buf = heap.data();
    size = heap.size();
  }
  auto res = std::to_chars(buf, buf + size, magnitude, std::chars_format::fixed, fraction);
  Decimal d;
  d.digits.reserve(static_cast<std::size_t>(res.ptr - buf));
  bool seenPoint = false;
  for (const char* p = buf; p != res.ptr; ++p) {
    if (*p == '.') {
      seenPoint = true;
      continue;
    }
    d.digits.push_back(*p - '0');
    if (!seenPoint) ++d.point;
  }
  return d;
}

// Place (power of ten) of digit index i.
int PlaceOf(const Decimal& d, int i) {
  return d.point - 1 - i;
}

// Index of the first non-zero digit, or -1 for zero.
int FirstNonZero(const Decimal& d) {
  for (std::size_t i = 0; i < d.digits.size(); ++i)
    if (d.digits[i] != 0) return static_cast<int>(i);
  return -1;
}

// Rounds to keep places >= cutPlace; an exact half goes away from zero. Digits below the cut
// become 0; a carry out of the top digit adds a leading digit.
void RoundAtPlace(Decimal& d, int cutPlace) {
  int cut = d.point - 1 - cutPlace;  // index of the last kept digit
  if (cut + 1 >= static_cast<int>(d.digits.size())) return;
  if (cut < -1) {  // everything is below the cut and below half of it
    std::fill(d.digits.begin(), d.digits.end(), 0);
    return;
  }
  bool up = d.digits[static_cast<std::size_t>(cut + 1)] >= 5;
  std::fill(d.digits.begin() + (cut + 1), d.digits.end(), 0);
  if (!up) return;
  int i = cut;
  while (i >= 0) {
    if (++d.digits[static_cast<std::size_t>(i)] < 10) return;
    d.digits[static_cast<std::size_t>(i)] = 0;
    --i;
  }
  d.digits.insert(d.digits.begin(), 1);
  ++d.point;
}

// "1.2345E-6" style: mantissa without trailing zeros, exponent without "+" or leading zeros.
std::string ExponentForm(const Decimal& d, bool negative) {
  int first = FirstNonZero(d);
  if (first < 0) return "0";
  int last = static_cast<int>(d.digits.size()) - 1;
  while (last > first && d.digits[static_cast<std::size_t>(last)] == 0) --last;
  std::string out = negative ? "-" : "";
  out += static_cast<char>('0' + d.digits[static_cast<std::size_t>(first)]);
  if (last > first) {
    out += '.';
    for (int i = first + 1; i <= last; ++i)
      out += static_cast<char>('0' + d.digits[static_cast<std::size_t>(i)]);
  }
  out += 'E';
  out += std::to_string(PlaceOf(d, first));
  return out;
}

// Plain form with `decimals` fraction digits (or trailing zeros removed when decimals < 0).
std::string PlainForm(const Decimal& d, bool negative, int decimals) {
  std::string intPart;
  for (int i = 0; i < d.point; ++i) {
    int digit = d.digits[static_cast<std::size_t>(i)];
    if (intPart.empty() && digit == 0) continue;
    intPart += static_cast<char>('0' + digit);
  }
  if (intPart.empty()) intPart = "0";
  std::string frac;
  int available = static_cast<int>(d.digits.size()) - d.point;
  if (decimals >= 0) {
    for (int i = 0; i < decimals; ++i)
      frac += i < available
                  ? static_cast<char>('0' + d.digits[static_cast<std::size_t>(d.point + i)])
                  : '0';
  } else {
    int last = available - 1;
    while (last >= 0 && d.digits[static_cast<std::size_t>(d.point + last)] == 0) --last;
    for (int i = 0; i <= last; ++i)
      frac += static_cast<char>('0' + d.digits[static_cast<std::size_t>(d.point + i)]);
  }
  std::string out = negative ? "-" : "";
  out += intPart;
  if (!frac.empty()) out += '.' + frac;
  return out;
}

int IntegerDigits(const Decimal& d) {
  int first = FirstNonZero(d);
  if (first < 0 || first >= d.point) return 0;
  return d.point - first;
}

std::string NonFinite(double value) {
  if (std::isnan(value)) return "NAN";
  return value < 0 ? "-INF" : "INF";
}

// [+-]? (digits ('.' digits*)? | '.' digits) ([eE] [+-]? digits)?
bool IsDecimalSyntax(std::string_view s) {
  std::size_t i = 0, n = s.size();
  auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
  std::size_t mantissaDigits = 0;
  while (i < n && isDigit(s[i])) ++i, ++mantissaDigits;
  if (i < n && s[i] == '.') {
    ++i;
    while (i < n && isDigit(s[i])) ++i, ++mantissaDigits;
  }
  if (mantissaDigits == 0) return false;
  if (i < n && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t expDigits = 0;
    while (i < n && isDigit(s[i])) ++i, ++expDigits;
    if (expDigits == 0) return false;
  }
  return i == n;
}

}  // namespace

EConversionError::EConversionError(std::string_view text)
    : std::runtime_error(ConversionMessage(text)), text_(text) {}

namespace {

// The common case without the exact expansion. The shortest round-trip text of the value tells
// whether it can be an exact half at `digits` decimals: only when that text has digits + 1
// decimals ending in 5 (or fewer decimals than the value's precision can vouch for). Otherwise
// the correctly rounded to_chars result is the answer, as no tie is involved. Values where the
// significant digits bind take the exact road. Returns false when it cannot decide.
bool FastFixed(double value, int precision, int digits, std::string& out) {
  const double magnitude = std::fabs(value);
  if (!(magnitude < 1e15) || digits < 0 || digits > 17) return false;
  char buf[512];
  auto res = std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::fixed);
  if (res.ec != std::errc{}) return false;
  std::string_view text(buf, static_cast<std::size_t>(res.ptr - buf));
  const std::size_t point = text.find('.');
  const std::string_view intPart = text.substr(0, point);
  const std::string_view frac =
      point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
  // Place of the first non-zero digit; the significant digits must not bind, with one place to
  // spare for a carry.
  int firstPlace = -1000;
  if (intPart != "0") {
    firstPlace = static_cast<int>(intPart.size()) - 1;
  } else {
    const std::size_t nz = frac.find_first_not_of('0');
    if (nz != std::string_view::npos) firstPlace = -static_cast<int>(nz) - 1;
  }
  if (firstPlace > precision - 2 - digits) return false;

  std::string_view kept;
  char rounded[64];
  const auto width = static_cast<std::size_t>(digits);
  if (frac.size() <= width) {
    // Already on the grid of `digits` decimals; the value's own error (half an ulp) is far
    // below half a step only where the value is small enough.
    static constexpr double kPow10[] = {1e0, 1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,
                                        1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17};
    if (!(magnitude * kPow10[digits] < 1e15)) return false;
    kept = text;
  } else {
    if (frac.size() == width + 1 && frac.back() == '5') return false;
    auto r = std::to_chars(rounded, rounded + sizeof rounded, magnitude, std::chars_format::fixed,
                           digits);
    if (r.ec != std::errc{}) return false;
    kept = std::string_view(rounded, static_cast<std::size_t>(r.ptr - rounded));
  }
  const std::size_t keptPoint = kept.find('.');
  const std::string_view keptInt = kept.substr(0, keptPoint);
  const std::string_view keptFrac =
      keptPoint == std::string_view::npos ? std::string_view() : kept.substr(keptPoint + 1);
  const bool zero = kept.find_first_not_of("0.") == std::string_view::npos;
  out.clear();
  if (value < 0 && !zero) out += '-';
  out += keptInt;
  if (digits > 0) {
    out += '.';
    out += keptFrac;
    out.append(width - keptFrac.size(), '0');
  }
  return true;
}

}  // namespace

std::string FormatFixed(double value, int precision, int digits) {
  if (!std::isfinite(value)) return NonFinite(value);
  std::string fast;
  if (FastFixed(value, precision, digits, fast)) return fast;
  Decimal d = ExactDecimal(std::fabs(value));
  int first = FirstNonZero(d);
  if (first >= 0) {
    int sigPlace = PlaceOf(d, first) - precision + 1;
    Decimal exp = d;
    RoundAtPlace(d, std::max(sigPlace, -digits));
    if (IntegerDigits(d) > precision) {
      RoundAtPlace(exp, sigPlace);
      return ExponentForm(exp, value < 0);
    }
  }
  bool negative = value < 0 && FirstNonZero(d) >= 0;
  return PlainForm(d, negative, digits);
}

std::string FormatGeneral(double value) {
  if (!std::isfinite(value)) return NonFinite(value);
  static constexpr int kPrecision = 15;
  Decimal d = ExactDecimal(std::fabs(value));
  int first = FirstNonZero(d);
  if (first < 0) return "0";
  RoundAtPlace(d, PlaceOf(d, first) - kPrecision + 1);
  first = FirstNonZero(d);
  int place = PlaceOf(d, first);
  if (place < -5 || place >= kPrecision) return ExponentForm(d, value < 0);
  return PlainForm(d, value < 0, -1);
}

std::string FormatShortest(double value) {
  if (value == 0) return "0";
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, res.ptr);
}

std::string FormatSignificant(double value, int digits) {
  if (value == 0 || !std::isfinite(value)) return FormatShortest(value);
  const double scale = std::pow(10.0, digits - 1 - std::floor(std::log10(std::fabs(value))));
  return FormatShortest(std::round(value * scale) / scale);
}

std::string FormatDecimals(double value, int decimals) {
  return FormatFixed(value, 1000, decimals);
}

void AppendDecimals(std::string& out, double value, int decimals) {
  static constexpr double kScale[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6};
  // Scaled, the value fits an integer exactly; the fused residual tells the nearest integer
  // of the exact product apart from a near tie, which takes the exact road.
  if (decimals >= 0 && decimals <= 6 && std::fabs(value) < 1e9) {
    const double scale = kScale[decimals];
    const double k = std::nearbyint(value * scale);
    if (std::fabs(std::fma(value, scale, -k)) < 0.4999) {
      char buf[32];
      char* end = buf + sizeof buf;
      char* at = end;
      auto digits = static_cast<std::uint64_t>(std::fabs(k));
      for (int i = 0; i < decimals; ++i, digits /= 10) *--at = static_cast<char>('0' + digits % 10);
      if (decimals > 0) *--at = '.';
      do {
        *--at = static_cast<char>('0' + digits % 10);
        digits /= 10;
      } while (digits > 0);
      if (k < 0) *--at = '-';  // a value that rounds to zero has no sign
      out.append(at, static_cast<std::size_t>(end - at));
      return;
    }
  }
  out += FormatDecimals(value, decimals);
}

bool TryParseNumber(std::string_view text, double& out) {
  std::string_view s = Trim(text);
  if (!IsDecimalSyntax(s)) return false;
  if (s.front() == '+') s.remove_prefix(1);
  double v = 0;
  auto res = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
  if (res.ec != std::errc{} || res.ptr != s.data() + s.size() || !std::isfinite(v)) return false;
  out = v;
  return true;
}

double ParseNumber(std::string_view text) {
  double v = 0;
  if (!TryParseNumber(text, v)) throw EConversionError(text);
  return v;
}

bool TryParseInteger(std::string_view text, std::int64_t& out) {
  std::string_view s = Trim(text);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty() || s.front() == '+') return false;
  std::int64_t v = 0;
  auto res = std::from_chars(s.data(), s.data() + s.size(), v, 10);
  if (res.ec != std::errc{} || res.ptr != s.data() + s.size()) return false;
  out = v;
  return true;
}

std::int64_t ParseInteger(std::string_view text) {
  std::int64_t v = 0;
  if (!TryParseInteger(text, v)) {
    std::string msg = _("'%s' is not a valid integer value");
    msg.replace(msg.find("%s"), 2, std::string(text));
    throw std::runtime_error(msg);
  }
  return v;
}

double RoundHalfEven(double value) {
  double r = std::round(value);  // halves away from zero
  if (std::fabs(value - std::trunc(value)) == 0.5) r = 2.0 * std::round(value / 2.0);
  return r;
}

}  // namespace ondrevo
