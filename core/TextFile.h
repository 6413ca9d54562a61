#pragma once

#include <cstddef>
#include <functional>
#include <string>

// Reads the agent's KEY=value text files line by line. The file is opened
// in binary mode and line ends are ours, so CR LF and LF end a line alike on
// every platform (and a stray Ctrl-Z does not end the file early, as the
// Windows C runtime's text mode would). A line longer than maxLength is cut
// there and the rest of it skipped, so reading always ends. Returns false
// when the file cannot be opened; the C runtime shares it with other
// readers and writers.
bool forEachLine(const std::string& path, std::size_t maxLength,
                 const std::function<void(const std::string&)>& onLine);

bool canOpenForReading(const std::string& path);
