// Numbers in files and instrument commands: "." always, whatever the process locale.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace ondrevo {

// A text that is not a number; the message names the text.
class EConversionError : public std::runtime_error {
 public:
  explicit EConversionError(std::string_view text);
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
};

// Rounded once, on the exact binary value, to `precision` significant digits and `digits`
// decimals (an exact half away from zero), printed with exactly `digits` decimals; in exponent
// form when more than `precision` digits stand before the separator. Zero never has a sign.
std::string FormatFixed(double value, int precision, int digits);

// Shortest form with up to 15 significant digits: 2, 1.5, 0.001; exponent form (1E-6, 1.5E20)
// below 0.00001 or with more than 15 digits before the separator.
std::string FormatGeneral(double value);

// Shortest text that reads back as the same double (std::to_chars), e.g. for the CLI.
std::string FormatShortest(double value);

// `value` rounded to `digits` significant digits, in its shortest form: for figures in messages.
std::string FormatSignificant(double value, int digits);

// printf("%.*f")-style with the C locale: `decimals` digits after ".", used for instrument
// commands. Rounds like FormatFixed with unlimited precision.
std::string FormatDecimals(double value, int decimals);
// Appends FormatDecimals(value, decimals) to out, without its allocations in the common case:
// long instrument lists are built from thousands of these.
void AppendDecimals(std::string& out, double value, int decimals);

// Decimal number with optional sign, "." as separator and optional exponent; the whole text
// must convert (surrounding blanks allowed). Non-finite and out-of-range values are errors.
double ParseNumber(std::string_view text);
bool TryParseNumber(std::string_view text, double& out);

// Whole number (optional sign, digits only) in the range of a 64-bit integer.
std::int64_t ParseInteger(std::string_view text);
bool TryParseInteger(std::string_view text, std::int64_t& out);

// Nearest integer with halves to the even neighbour (files, grid indexes, percentages).
double RoundHalfEven(double value);

}  // namespace ondrevo
