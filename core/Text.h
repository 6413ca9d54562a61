#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The pieces between runs of delimiter characters, in order; never an empty
// piece.
std::vector<std::string> splitTokens(const std::string& text, const std::string& delimiters);

// Reads a number the way the C runtime's atoi/atol do: leading white space,
// an optional sign, then decimal digits up to the first non-digit; no digits
// give 0. Values beyond 32 bits saturate instead of being undefined.
int32_t readInteger(const std::string& text);

// Whether readInteger finds digits in the text, that is, whether it reads a
// number rather than giving 0 for want of one.
bool startsWithInteger(const std::string& text);

// Decimal without leading zeros, a minus sign when negative.
std::string decimalText(int64_t value);

// Decimal with a leading "0" below 10: 7 gives "07", 12 gives "12".
std::string twoDigitText(int value);
