#include <gtest/gtest.h>

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "document/Numbers.h"

using namespace ondrevo;

TEST(FormatFixed, FileFormatsOfTheDocument) {
  EXPECT_EQ(FormatFixed(1.5, 14, 8), "1.50000000");
  EXPECT_EQ(FormatFixed(0.1, 14, 8), "0.10000000");
  EXPECT_EQ(FormatFixed(12, 10, 4), "12.0000");
  EXPECT_EQ(FormatFixed(90, 10, 4), "90.0000");
  EXPECT_EQ(FormatFixed(0.25, 10, 4), "0.2500");
  EXPECT_EQ(FormatFixed(50, 12, 4), "50.0000");
  EXPECT_EQ(FormatFixed(-7.25, 10, 4), "-7.2500");
}

TEST(FormatFixed, RoundsOnceOnTheExactBinaryValue) {
  // 0.03125 is exact in binary: a true half goes away from zero.
  EXPECT_EQ(FormatFixed(0.03125, 10, 4), "0.0313");
  EXPECT_EQ(FormatFixed(-0.03125, 10, 4), "-0.0313");
  // 2.675 is stored as 2.67499999...: no double rounding up.
  EXPECT_EQ(FormatFixed(2.675, 10, 2), "2.67");
  // 1.0000000000000002 to 4 decimals and a carry through all digits.
  EXPECT_EQ(FormatFixed(9.99995, 10, 4), "10.0000");
  EXPECT_EQ(FormatFixed(0.99999999999, 10, 4), "1.0000");
  // Significant digits bound the digits before the decimals.
  EXPECT_EQ(FormatFixed(123456789.123456, 10, 4), "123456789.1000");
  EXPECT_EQ(FormatFixed(123456789.123456789, 14, 8), "123456789.12346000");
  EXPECT_EQ(FormatFixed(1234.56789012345678, 14, 8), "1234.56789012");
}

TEST(FormatFixed, ZeroHasNoSignAndLargeValuesUseExponent) {
  EXPECT_EQ(FormatFixed(-0.0, 10, 4), "0.0000");
  EXPECT_EQ(FormatFixed(-0.00001, 10, 4), "0.0000");
  EXPECT_EQ(FormatFixed(0, 14, 8), "0.00000000");
  EXPECT_EQ(FormatFixed(1e11, 10, 4), "1E11");
  EXPECT_EQ(FormatFixed(-12345678901.0, 10, 4), "-1.23456789E10");
  // Rounding that adds a digit before the separator switches to exponent form too.
  EXPECT_EQ(FormatFixed(9999999999.99, 10, 4), "1E10");
  EXPECT_EQ(FormatFixed(9999999999.0, 10, 4), "9999999999.0000");
}

TEST(FormatGeneral, ShortestFormWithFifteenDigits) {
  EXPECT_EQ(FormatGeneral(2), "2");
  EXPECT_EQ(FormatGeneral(1.5), "1.5");
  EXPECT_EQ(FormatGeneral(0.001), "0.001");
  EXPECT_EQ(FormatGeneral(0.1), "0.1");
  EXPECT_EQ(FormatGeneral(0.3), "0.3");
  EXPECT_EQ(FormatGeneral(1.0 / 3.0), "0.333333333333333");
  EXPECT_EQ(FormatGeneral(2.0 / 3.0), "0.666666666666667");
  EXPECT_EQ(FormatGeneral(-2.5), "-2.5");
  EXPECT_EQ(FormatGeneral(0), "0");
  EXPECT_EQ(FormatGeneral(-0.0), "0");
  EXPECT_EQ(FormatGeneral(123456789012345.0), "123456789012345");
}

TEST(FormatGeneral, ExponentOnlyBelowOneHundredThousandthOrAboveFifteenDigits) {
  EXPECT_EQ(FormatGeneral(0.00001), "0.00001");
  EXPECT_EQ(FormatGeneral(0.000012), "0.000012");
  EXPECT_EQ(FormatGeneral(0.000001), "1E-6");
  EXPECT_EQ(FormatGeneral(0.0000015), "1.5E-6");
  EXPECT_EQ(FormatGeneral(-0.0000025), "-2.5E-6");
  EXPECT_EQ(FormatGeneral(1e-300), "1E-300");
  EXPECT_EQ(FormatGeneral(1e15), "1E15");
  EXPECT_EQ(FormatGeneral(1.5e20), "1.5E20");
}

TEST(FormatShortest, RoundTripsExactly) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> dist(-1e6, 1e6);
  for (int i = 0; i < 2000; ++i) {
    double v = dist(rng) * std::pow(10.0, static_cast<int>(rng() % 40) - 20);
    EXPECT_EQ(ParseNumber(FormatShortest(v)), v);
  }
  EXPECT_EQ(FormatShortest(-0.0), "0");
  EXPECT_EQ(FormatShortest(0.1), "0.1");
}

TEST(FormatDecimals, InstrumentStyle) {
  EXPECT_EQ(FormatDecimals(1.5, 3), "1.500");
  EXPECT_EQ(FormatDecimals(-0.0004, 3), "0.000");
  EXPECT_EQ(FormatDecimals(12345.6789, 2), "12345.68");
  EXPECT_EQ(FormatDecimals(0.0005, 3), "0.001");  // binary 0.000500000000000000010...
}

// The appending form must give the very bytes of FormatDecimals: near ties, exact binary halves,
// values that round to zero from below, the edges of its fast range and beyond.
TEST(FormatDecimals, AppendingFormIsTheSame) {
  auto same = [](double v, int decimals) {
    std::string out = "x";
    AppendDecimals(out, v, decimals);
    EXPECT_EQ(out, "x" + FormatDecimals(v, decimals)) << v << " at " << decimals;
  };
  for (double v : {0.0, -0.0, 1.0625, -1.0625, 0.0005, -0.0005, 2.5, -2.5, 0.00049999999999999,
                   -0.0004, 999999999.9995, 1e9, -1e9, 1e15, 1e-300, 123.4565, 10.1235,
                   std::nextafter(0.0625, 1.0), std::nextafter(0.0625, 0.0)})
    for (int decimals = 0; decimals <= 7; ++decimals) same(v, decimals);
  same(std::nan(""), 3);
  same(INFINITY, 3);
  std::mt19937_64 random(20261210);
  std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
  std::uniform_int_distribution<int> exponent(-8, 11), decimals(0, 6), halves(0, 2000000);
  for (int i = 0; i < 200000; ++i) {
    const int d = decimals(random);
    same(mantissa(random) * std::pow(10.0, exponent(random)), d);
    // Decimal halves at the rounding place, and their binary neighbours.
    const double half = (halves(random) - 1000000 + 0.5) / std::pow(10.0, d);
    same(half, d);
    same(std::nextafter(half, 1e300), d);
    same(std::nextafter(half, -1e300), d);
  }
}

TEST(ParseNumber, AcceptsDecimalSyntax) {
  EXPECT_EQ(ParseNumber("1.5"), 1.5);
  EXPECT_EQ(ParseNumber("-1.5E-3"), -0.0015);
  EXPECT_EQ(ParseNumber("+2"), 2);
  EXPECT_EQ(ParseNumber(".5"), 0.5);
  EXPECT_EQ(ParseNumber("5."), 5);
  EXPECT_EQ(ParseNumber(" 3 "), 3);
  EXPECT_EQ(ParseNumber("1e2"), 100);
  EXPECT_EQ(ParseNumber("0.10000000"), 0.1);
}

TEST(ParseNumber, RejectsWhatIsNotAWholeFiniteNumber) {
  for (const char* bad : {"1.5abc", "", " ", "nan", "NaN", "inf", "-inf", "infinity", "1e999",
                          "-1e999", "1,5", "0x10", "1e", "e5", "+-1", ".", "1.2.3", "--1", "+"}) {
    double v = 0;
    EXPECT_FALSE(TryParseNumber(bad, v)) << bad;
    try {
      ParseNumber(bad);
      ADD_FAILURE() << "accepted " << bad;
    } catch (const EConversionError& e) {
      EXPECT_EQ(e.Text(), bad);
      EXPECT_NE(std::string(e.what()).find(std::string("'") + bad + "'"), std::string::npos);
    }
  }
}

TEST(ParseInteger, WholeNumbersOnly) {
  EXPECT_EQ(ParseInteger("42"), 42);
  EXPECT_EQ(ParseInteger("-7"), -7);
  EXPECT_EQ(ParseInteger("+7"), 7);
  std::int64_t v;
  EXPECT_FALSE(TryParseInteger("4.2", v));
  EXPECT_FALSE(TryParseInteger("", v));
  EXPECT_FALSE(TryParseInteger("99999999999999999999", v));
  EXPECT_THROW(ParseInteger("x"), std::runtime_error);
}

TEST(RoundHalfEven, HalvesGoToTheEvenNeighbour) {
  EXPECT_EQ(RoundHalfEven(12.5), 12);
  EXPECT_EQ(RoundHalfEven(13.5), 14);
  EXPECT_EQ(RoundHalfEven(-2.5), -2);
  EXPECT_EQ(RoundHalfEven(33.3), 33);
  EXPECT_EQ(RoundHalfEven(2.6), 3);
  EXPECT_EQ(RoundHalfEven(-2.6), -3);
}

TEST(NumbersUnderGermanLocale, NothingChanges) {
  const char* old = std::setlocale(LC_ALL, nullptr);
  std::string saved = old ? old : "C";
  if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 not generated";
  // The locale really is in force: printf writes a comma.
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", 1.5);
  EXPECT_STREQ(buf, "1,5");
  EXPECT_EQ(FormatFixed(1.5, 14, 8), "1.50000000");
  EXPECT_EQ(FormatGeneral(0.0000015), "1.5E-6");
  EXPECT_EQ(FormatDecimals(1.5, 3), "1.500");
  EXPECT_EQ(ParseNumber("1.5"), 1.5);
  double v;
  EXPECT_FALSE(TryParseNumber("1,5", v));
  std::setlocale(LC_ALL, saved.c_str());
}

namespace {
// Reference: the exact expansion rounded half away from zero at `digits` decimals.
std::string ExactRounded(double value, int digits) {
  std::vector<char> buf(1600);
  auto res = std::to_chars(buf.data(), buf.data() + buf.size(), std::fabs(value),
                           std::chars_format::fixed, 1080);
  std::string text(buf.data(), res.ptr);
  const std::size_t point = text.find('.');
  std::string kept =
      text.substr(0, point) + text.substr(point + 1, static_cast<std::size_t>(digits));
  if (text[point + 1 + static_cast<std::size_t>(digits)] >= '5') {
    int i = static_cast<int>(kept.size()) - 1;
    while (i >= 0 && kept[i] == '9') kept[i--] = '0';
    if (i >= 0)
      ++kept[i];
    else
      kept.insert(kept.begin(), '1');
  }
  std::size_t intLen = kept.size() - static_cast<std::size_t>(digits);
  std::string out = kept.substr(0, intLen);
  if (digits > 0) out += "." + kept.substr(intLen);
  while (out.size() > 1 && out[0] == '0' && out[1] != '.') out.erase(0, 1);
  if (value < 0 && out.find_first_not_of("0.") != std::string::npos) out = "-" + out;
  return out;
}
}  // namespace

TEST(FormatFixed, AgreesWithTheExactExpansionOnManyValues) {
  std::mt19937_64 rng(42);
  for (int i = 0; i < 40000; ++i) {
    const int digits = static_cast<int>(rng() % 9);
    double v;
    switch (i % 4) {
      case 0:  // values on a decimal grid, where halves are common
        v = static_cast<double>(static_cast<std::int64_t>(rng() % 2000001) - 1000000) /
            std::pow(10.0, static_cast<double>(digits + 1));
        break;
      case 1:  // binary fractions: exact halves at many positions
        v = static_cast<double>(static_cast<std::int64_t>(rng() % 100001) - 50000) /
            std::pow(2.0, static_cast<double>(rng() % 12));
        break;
      case 2: {  // one ulp either side of a decimal half, and large values
        const double scale = std::pow(10.0, static_cast<double>(rng() % 16));
        const double tie = (static_cast<double>(rng() % 2000001) + 0.5) / std::pow(10.0, digits) *
                           (rng() % 4 == 0 ? scale : 1.0);
        v = rng() % 2 ? std::nextafter(tie, 0.0) : std::nextafter(tie, 1e300);
        break;
      }
      default: {
        std::uniform_real_distribution<double> dist(-1.0, 1.0);
        v = dist(rng) * std::pow(10.0, static_cast<double>(static_cast<int>(rng() % 24) - 12));
      }
    }
    ASSERT_EQ(FormatFixed(v, 1000, digits), ExactRounded(v, digits)) << v << " " << digits;
    ASSERT_EQ(FormatDecimals(v, digits), ExactRounded(v, digits)) << v << " " << digits;
  }
}

namespace {

// Reference for the display formats, built on printf rather than to_chars: a double has exactly
// as many fraction digits as binary ones, so printf with that many decimals is exact.
std::string ExactDigits(double magnitude, int& point) {
  int bits = 0;
  while (std::ldexp(magnitude, bits) != std::trunc(std::ldexp(magnitude, bits))) ++bits;
  std::vector<char> buf(1500);
  std::snprintf(buf.data(), buf.size(), "%.*f", bits, magnitude);
  std::string text(buf.data());
  const std::size_t dot = text.find('.');
  point = static_cast<int>(dot == std::string::npos ? text.size() : dot);
  if (dot != std::string::npos) text.erase(dot, 1);
  return text;
}

// Keeps the places >= cutPlace of `digits` (point digits before the separator), an exact half
// going away from zero; a carry can add a leading digit.
void RoundDigits(std::string& digits, int& point, int cutPlace) {
  const int keep = point - cutPlace;  // digits kept
  if (keep >= static_cast<int>(digits.size())) return;
  if (keep < 0) {
    digits.assign(digits.size(), '0');
    return;
  }
  const bool up = digits[static_cast<std::size_t>(keep)] >= '5';
  for (std::size_t i = static_cast<std::size_t>(keep); i < digits.size(); ++i) digits[i] = '0';
  if (!up) return;
  int i = keep - 1;
  while (i >= 0 && digits[static_cast<std::size_t>(i)] == '9')
    digits[static_cast<std::size_t>(i--)] = '0';
  if (i >= 0) {
    ++digits[static_cast<std::size_t>(i)];
  } else {
    digits.insert(digits.begin(), '1');
    ++point;
  }
}

int LeadingPlace(const std::string& digits, int point) {
  const std::size_t first = digits.find_first_not_of('0');
  return first == std::string::npos ? -100000 : point - 1 - static_cast<int>(first);
}

std::string Exponent(const std::string& digits, int point, bool negative) {
  const std::size_t first = digits.find_first_not_of('0');
  const std::size_t last = digits.find_last_not_of('0');
  std::string out = negative ? "-" : "";
  out += digits[first];
  if (last > first) out += "." + digits.substr(first + 1, last - first);
  return out + "E" + std::to_string(point - 1 - static_cast<int>(first));
}

std::string Plain(const std::string& digits, int point, bool negative, int decimals) {
  std::string intPart = digits.substr(0, static_cast<std::size_t>(std::max(point, 0)));
  intPart.erase(0, std::min(intPart.find_first_not_of('0'), intPart.size()));
  if (intPart.empty()) intPart = "0";
  std::string frac = point < static_cast<int>(digits.size())
                         ? digits.substr(static_cast<std::size_t>(std::max(point, 0)))
                         : std::string();
  if (decimals >= 0) {
    frac.resize(static_cast<std::size_t>(decimals), '0');
  } else {
    frac.erase(std::min(frac.find_last_not_of('0') + 1, frac.size()));
  }
  return (negative ? "-" : "") + intPart + (frac.empty() ? "" : "." + frac);
}

std::string ReferenceFixed(double value, int precision, int decimals) {
  int point = 0;
  std::string d = ExactDigits(std::fabs(value), point);
  const int lead = LeadingPlace(d, point);
  if (lead == -100000) return Plain(d, point, false, decimals);
  const int sigPlace = lead - precision + 1;
  std::string e = d;
  int ePoint = point;
  RoundDigits(d, point, std::max(sigPlace, -decimals));
  const int lead2 = LeadingPlace(d, point);
  if (lead2 != -100000 && lead2 + 1 > precision) {
    RoundDigits(e, ePoint, sigPlace);
    return Exponent(e, ePoint, value < 0);
  }
  return Plain(d, point, value < 0 && lead2 != -100000, decimals);
}

std::string ReferenceGeneral(double value) {
  int point = 0;
  std::string d = ExactDigits(std::fabs(value), point);
  int lead = LeadingPlace(d, point);
  if (lead == -100000) return "0";
  RoundDigits(d, point, lead - 14);
  lead = LeadingPlace(d, point);
  if (lead < -5 || lead >= 15) return Exponent(d, point, value < 0);
  return Plain(d, point, value < 0, -1);
}

// Values where display texts go wrong first: decimal halves and the doubles next to them,
// binary fractions (exact halves), carries into a new leading digit, powers of ten, integers
// beyond the significant digits, and plain random values over many magnitudes.
double DisplayCase(std::mt19937_64& rng, int i) {
  const auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const double sign = rng() % 2 ? -1.0 : 1.0;
  switch (i % 6) {
    case 0: {
      const int decimals = pick(9);
      double tie = (static_cast<double>(rng() % 100000000) + 0.5) / std::pow(10.0, decimals);
      if (pick(3) == 0) tie = std::nextafter(tie, pick(2) ? 0.0 : 1e300);
      return sign * tie;
    }
    case 1:
      return sign * static_cast<double>(rng() % (1ULL << 40)) / std::ldexp(1.0, pick(30));
    case 2: {
      const double nines = std::pow(10.0, pick(20) - 8) - std::pow(10.0, pick(20) - 14) / 2;
      return sign * std::nextafter(nines, pick(2) ? 0.0 : 1e300);
    }
    case 3: {
      const double ten = std::pow(10.0, pick(40) - 20);
      return sign * (pick(2) ? ten : std::nextafter(ten, pick(2) ? 0.0 : 1e300));
    }
    case 4:
      return sign * static_cast<double>(rng() % 100000000000000000ULL) / std::pow(10.0, pick(6));
    default: {
      std::uniform_real_distribution<double> unit(0.0, 1.0);
      return sign * unit(rng) * std::pow(10.0, pick(30) - 15);
    }
  }
}

}  // namespace

// The grid's value and duration texts and its hidden fields against the exact expansion.
TEST(DisplayText, AgreesWithTheExactFormatterOnAMillionValues) {
  std::mt19937_64 rng(20261210);
  for (double v : {0.0, -0.0, 0.5, 9.99995, 99.999950000000001, 999999.5, 9999995.0, 1e15,
                   4.9406564584124654e-324, 1.7976931348623157e308, 0.000049999999999999996}) {
    ASSERT_EQ(FormatFixed(v, 6, 4), ReferenceFixed(v, 6, 4)) << v;
    ASSERT_EQ(FormatFixed(v, 7, 5), ReferenceFixed(v, 7, 5)) << v;
    ASSERT_EQ(FormatGeneral(v), ReferenceGeneral(v)) << v;
  }
  for (int i = 0; i < 1000000; ++i) {
    const double v = DisplayCase(rng, i);
    ASSERT_EQ(FormatFixed(v, 6, 4), ReferenceFixed(v, 6, 4)) << std::hexfloat << v;
    ASSERT_EQ(FormatFixed(v, 7, 5), ReferenceFixed(v, 7, 5)) << std::hexfloat << v;
    ASSERT_EQ(FormatGeneral(v), ReferenceGeneral(v)) << std::hexfloat << v;
  }
}

TEST(FormatSignificant, RoundsToTheDigitsAndKeepsTheShortestForm) {
  EXPECT_EQ(FormatSignificant(2.5049999, 3), "2.5");
  EXPECT_EQ(FormatSignificant(0.000123456, 3), "0.000123");
  EXPECT_EQ(FormatSignificant(-987654.321, 4), "-987700");
  EXPECT_EQ(FormatSignificant(0.0, 3), "0");
  EXPECT_EQ(FormatSignificant(7.5, 6), "7.5");
}
