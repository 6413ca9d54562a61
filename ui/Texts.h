#pragma once

#include <string>

#include "ui/SystemLanguage.h"

// The texts the user reads (tray menu, tooltip, message boxes, About title),
// taken from the language file that matches the system's default language.
// Texts are narrow strings in the system's 8-bit code page, exactly as the
// file holds them, so they go to the ANSI Win32 calls unchanged.
class Texts {
  public:
    // Lines are read with a buffer of 1024 characters; a longer line is cut
    // there and the rest of it skipped.
    static constexpr std::size_t maxLineLength = 1023;

    // Reads resources\<code>.txt beside the configuration file, where the
    // code is de, en, es, fr or it (en for any other language). Each
    // NAME=text line adds one text; the first line with a name wins. Throws
    // FatalError when the file cannot be opened.
    static void init(const std::string& configurationPath, const SystemLanguage& language);

    // The language file init reads for this system language.
    static std::string filePath(const std::string& configurationPath,
                                const SystemLanguage& language);

    // The text for a key; empty for a key the file did not give, or not
    // yet: a key asked for before init has read its line gets the file's
    // text afterwards. The reference stays valid and unchanged for the life
    // of the process, so callers may hold on to it.
    static const std::string& get(const std::string& key);

    // Forgets every text. Only for tests: it invalidates every reference
    // get() handed out.
    static void resetForTesting();
};
