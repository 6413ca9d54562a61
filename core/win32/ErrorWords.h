#pragma once

#include <cstdint>
#include <string>

// A Windows, Winsock or WinINet error number in words with the number in
// brackets, e.g. "connection refused (10061)": the words for whoever reads
// the line, the number for a search or a support call.
std::string errorInWords(uint32_t code);
// The words alone, for a line that shows the number already.
std::string errorWords(uint32_t code);
