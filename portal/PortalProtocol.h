#pragma once

#include <cstddef>
#include <string>

// The longest answer the agent keeps; anything after it is dropped.
constexpr std::size_t maximumAnswerLength = 64999;

// The highest "B" port whose decimal form fits the four characters the
// browser address has room for.
constexpr int maximumBrowserPort = 9999;

// Removes every character whose value, read as a signed byte, is 32 or
// less: spaces, tabs, line breaks, other control characters and all bytes
// from 0x80 to 0xFF.
std::string removeWhitespace(const std::string& text);
