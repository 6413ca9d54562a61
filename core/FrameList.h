#pragma once

#include <string>
#include <vector>

// Radio frames as the portal delivers them: each the letter "S" followed by
// hexadecimal digit pairs, in the order they are to be broadcast.
using FrameList = std::vector<std::string>;
