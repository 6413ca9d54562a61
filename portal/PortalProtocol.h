#pragma once

#include <cstddef>
#include <string>

// The longest answer the agent keeps; anything after it is dropped.
constexpr std::size_t maximumAnswerLength = 64999;

// How much of an answer is read at all. What follows the kept part is read
// and thrown away up to this, because a request closed with its answer
// half unread can keep the GUI thread waiting for the receive time-out.
constexpr std::size_t maximumReadLength = 4 * 1024 * 1024;

// How many lines one answer logs one by one as skipped: no command, or a
// browser command refused or beyond the first page.
constexpr int maximumSkippedLinesLogged = 20;

// Removes every character whose value, read as a signed byte, is 32 or
// less: spaces, tabs, line breaks, other control characters and all bytes
// from 0x80 to 0xFF.
std::string removeWhitespace(const std::string& text);
