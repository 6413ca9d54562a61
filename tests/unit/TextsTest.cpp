#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/InitialConfiguration.h"
#include "core/Log.h"
#include "tests/unit/support/FakeMainWindow.h"
#include "tests/unit/support/TempFolder.h"
#include "ui/SystemLanguage.h"
#include "ui/Texts.h"

namespace {

class FakeLanguage final : public SystemLanguage {
  public:
    explicit FakeLanguage(std::string name) : name_(std::move(name)) {}
    std::string englishName() const override { return name_; }

  private:
    std::string name_;
};

const char openFailure[] =
    "fatal error! unable to open language file. It makes no sence to continue";

// The table is process-wide, so every test starts and ends with it empty.
class TextsTest : public ::testing::Test {
  protected:
    TextsTest() {
        setMainWindowCommands(&window);
        Texts::resetForTesting();
    }
    ~TextsTest() override { Texts::resetForTesting(); }

    // The configuration file itself need not exist; only its folder counts.
    std::string configurationPath() const { return folder.file("quorvel.ini"); }

    void writeLanguageFile(const std::string& code, const std::string& bytes) {
        folder.write("resources/" + code + ".txt", bytes);
    }

    // Writes the bytes as the German file and reads it.
    void initGermanWith(const std::string& bytes) {
        writeLanguageFile("de", bytes);
        Texts::init(configurationPath(), FakeLanguage("German"));
    }

    ProcessStateGuard guard;
    FakeMainWindow window;
    TempFolder folder;
};

TEST_F(TextsTest, TheLanguageNamePicksTheFileExactlyAndEverythingElseGetsEnglish) {
    for (const char* code : {"de", "en", "es", "fr", "it"}) {
        writeLanguageFile(code, std::string("WHICH=") + code + "\r\n");
    }
    const std::pair<const char*, const char*> cases[] = {
        {"German", "de"},  {"English", "en"},      {"Spanish", "es"},
        {"French", "fr"},  {"Italian", "it"},      {"Dutch", "en"},
        {"", "en"},        {"german", "en"},       {"GERMAN", "en"},
        {"German ", "en"}, {"Swiss German", "en"},
    };
    for (const auto& [name, code] : cases) {
        SCOPED_TRACE(std::string("language \"") + name + "\"");
        Texts::resetForTesting();
        Texts::init(configurationPath(), FakeLanguage(name));
        EXPECT_EQ(Texts::get("WHICH"), code);
    }
}

TEST_F(TextsTest, InitLogsTheFolderAndTheFileItOpens) {
    writeLanguageFile("fr", "K=v\r\n");
    setLoggingEnabled(true);
    Texts::init(configurationPath(), FakeLanguage("French"));

    const char separator = static_cast<char>(std::filesystem::path::preferred_separator);
    const std::string expectedFolder = folder.path().string() + separator + "resources" + separator;
    const std::vector<std::string> lines = window.logLines();
    ASSERT_EQ(lines.size(), 3u);
    const auto endsWith = [](const std::string& text, const std::string& end) {
        return text.size() >= end.size() &&
               text.compare(text.size() - end.size(), end.size(), end) == 0;
    };
    EXPECT_TRUE(endsWith(lines[0], "] Texts::init:")) << lines[0];
    EXPECT_TRUE(endsWith(lines[1], "] languageFilePath: " + expectedFolder)) << lines[1];
    EXPECT_TRUE(endsWith(lines[2], "] language file path: " + expectedFolder + "fr.txt"))
        << lines[2];
}

TEST_F(TextsTest, ANameEndsAtTheFirstEqualsSignAndNothingIsTrimmed) {
    initGermanWith(
        "KEY=text\r\n"
        " = \r\n"
        "X=a=b\r\n"
        "EMPTY=\r\n"
        "=v\r\n"
        "lower=small\r\n");
    EXPECT_EQ(Texts::get("KEY"), "text");
    EXPECT_EQ(Texts::get(" "), " ");
    EXPECT_EQ(Texts::get(" = "), "");
    EXPECT_EQ(Texts::get("X"), "a=b");
    EXPECT_EQ(Texts::get("EMPTY"), "");
    EXPECT_EQ(Texts::get(""), "v");
    EXPECT_EQ(Texts::get("lower"), "small");
    EXPECT_EQ(Texts::get("LOWER"), "");
}

TEST_F(TextsTest, ShortLinesAreIgnoredAndALineWithoutEqualsSignNamesItself) {
    initGermanWith(
        "\r\n"
        "\n"
        "Z\r\n"
        "\r\r\n"
        "AB\r\n"
        "no equals sign here\r\n"
        "AFTER=ok\r\n");
    EXPECT_EQ(Texts::get("Z"), "");
    EXPECT_EQ(Texts::get("\r"), "");
    EXPECT_EQ(Texts::get("AB"), "AB");
    EXPECT_EQ(Texts::get("no equals sign here"), "no equals sign here");
    EXPECT_EQ(Texts::get("AFTER"), "ok");
}

TEST_F(TextsTest, TheFirstOccurrenceOfANameWins) {
    initGermanWith("DUP=first\r\nDUP=second\r\nSELF\r\nSELF=later\r\n");
    EXPECT_EQ(Texts::get("DUP"), "first");
    EXPECT_EQ(Texts::get("SELF"), "SELF");
}

TEST_F(TextsTest, AnUnknownKeyGetsAnEmptyTextThatIsKept) {
    const std::string& first = Texts::get("NOT_THERE");
    EXPECT_EQ(first, "");
    const std::string& second = Texts::get("NOT_THERE");
    EXPECT_EQ(&first, &second);
}

TEST_F(TextsTest, AKeyAskedForBeforeInitStaysEmptyAndItsTextStaysValid) {
    const std::string& early = Texts::get("EARLY");
    initGermanWith("EARLY=from the file\r\nOTHER=x\r\n");
    const std::string& after = Texts::get("EARLY");
    EXPECT_EQ(after, "");
    EXPECT_EQ(&after, &early);
    EXPECT_EQ(Texts::get("OTHER"), "x");
}

TEST_F(TextsTest, TextsFromTheFileKeepTheirPlaceAcrossLaterLookups) {
    initGermanWith("A=alpha\r\n");
    const std::string& a = Texts::get("A");
    for (int i = 0; i < 1000; ++i) {
        Texts::get("filler" + std::to_string(i));
    }
    EXPECT_EQ(&Texts::get("A"), &a);
    EXPECT_EQ(a, "alpha");
}

TEST_F(TextsTest, AMissingFolderOrFileIsFatalWithoutFallingBackToEnglish) {
    try {
        Texts::init(configurationPath(), FakeLanguage("English"));
        FAIL() << "a missing resources folder must be fatal";
    } catch (const FatalError& error) {
        EXPECT_STREQ(error.what(), openFailure);
    }

    writeLanguageFile("en", "K=english\r\n");
    try {
        Texts::init(configurationPath(), FakeLanguage("Italian"));
        FAIL() << "a missing it.txt must be fatal";
    } catch (const FatalError& error) {
        EXPECT_STREQ(error.what(), openFailure);
    }
    EXPECT_EQ(Texts::get("K"), "");
}

TEST_F(TextsTest, ALongLineIsCutAndItsRestIsNotReadAsANewLine) {
    const std::size_t max = Texts::maxLineLength;
    const std::string noEquals(max, 'x');
    initGermanWith("LONG=" + std::string(2000, 'v') + "\r\n" +  //
                   noEquals + "=TAIL\r\n" +                     //
                   "EXACT=" + std::string(max - 6, 'e') + "\r\n" +
                   "ONE_OVER=" + std::string(max - 8, 'o') + "\n" +
                   "CR_INSIDE=" + std::string(max - 11, 'c') + "\rmore\r\n" + "AFTER=ok\r\n");
    EXPECT_EQ(Texts::get("LONG"), std::string(max - 5, 'v'));
    // Cut before its "=", the line names itself; its tail is no line of its own.
    EXPECT_EQ(Texts::get(noEquals), noEquals);
    EXPECT_EQ(Texts::get("TAIL"), "");
    EXPECT_EQ(Texts::get(""), "");
    // The CR of a line that just fills the buffer goes with the cut rest ...
    EXPECT_EQ(Texts::get("EXACT"), std::string(max - 6, 'e'));
    EXPECT_EQ(Texts::get("ONE_OVER"), std::string(max - 9, 'o'));
    // ... while a CR inside a line that goes on is text, not a line end.
    EXPECT_EQ(Texts::get("CR_INSIDE"), std::string(max - 11, 'c') + "\r");
    EXPECT_EQ(Texts::get("AFTER"), "ok");
}

TEST_F(TextsTest, CodePageBytesArriveUnchanged) {
    initGermanWith(
        "SYS_ABOUT_US=\xDC"
        "ber\r\n"
        "CL\xC9=caf\xE9\r\n");
    EXPECT_EQ(Texts::get("SYS_ABOUT_US"),
              "\xDC"
              "ber");
    EXPECT_EQ(Texts::get("SYS_ABOUT_US").size(), 4u);
    EXPECT_EQ(Texts::get("CL\xC9"), "caf\xE9");
}

TEST_F(TextsTest, AByteOrderMarkBelongsToTheFirstName) {
    initGermanWith(
        "\xEF\xBB\xBF"
        "FIRST=1\r\nSECOND=2\r\n");
    EXPECT_EQ(Texts::get("FIRST"), "");
    EXPECT_EQ(Texts::get("\xEF\xBB\xBF"
                         "FIRST"),
              "1");
    EXPECT_EQ(Texts::get("SECOND"), "2");
}

TEST_F(TextsTest, CrLfAndLfEndLinesAlikeAndTheLastLineNeedsNoEnd) {
    initGermanWith("CRLF=one\r\nLF=two\nINNER=x\ry\r\nLAST=three");
    EXPECT_EQ(Texts::get("CRLF"), "one");
    EXPECT_EQ(Texts::get("LF"), "two");
    EXPECT_EQ(Texts::get("INNER"), "x\ry");
    EXPECT_EQ(Texts::get("LAST"), "three");
}

TEST_F(TextsTest, ABinaryFileStillEnds) {
    std::string noise;
    for (int i = 0; i < 5000; ++i) {
        noise += static_cast<char>((i * 37) & 0xFF);
    }
    initGermanWith(noise + "\nAFTER=after-noise\r\n");
    EXPECT_EQ(Texts::get("AFTER"), "after-noise");
}

// The GUI thread asks for texts while init() is still reading; whichever comes
// first decides a key's text, and a text once handed out never changes.
TEST_F(TextsTest, LookupsOnAnotherThreadDuringInitStayConsistent) {
    constexpr int count = 4000;
    std::string file;
    for (int i = 0; i < count; ++i) {
        file += "K" + std::to_string(i) + "=V" + std::to_string(i) + "\r\n";
    }
    writeLanguageFile("de", file);

    std::atomic<bool> readerRunning{false};
    std::atomic<bool> initDone{false};
    std::vector<const std::string*> seen(count, nullptr);
    std::vector<std::string> seenText(count);
    int changed = 0;
    std::thread reader([&] {
        readerRunning = true;
        bool lastPass = false;
        while (!lastPass) {
            lastPass = initDone.load();
            for (int i = count - 1; i >= 0; i -= 3) {
                const std::string& text = Texts::get("K" + std::to_string(i));
                if (seen[i] == nullptr) {
                    seen[i] = &text;
                    seenText[i] = text;
                } else if (seen[i] != &text || seenText[i] != text) {
                    ++changed;
                }
            }
        }
    });
    while (!readerRunning) {
        std::this_thread::yield();
    }
    std::thread initialiser([&] {
        Texts::init(configurationPath(), FakeLanguage("German"));
        initDone = true;
    });
    initialiser.join();
    reader.join();

    EXPECT_EQ(changed, 0);
    for (int i = 0; i < count; ++i) {
        const std::string& text = Texts::get("K" + std::to_string(i));
        const std::string fromFile = "V" + std::to_string(i);
        if (seen[i] != nullptr) {
            ASSERT_EQ(&text, seen[i]) << i;
            ASSERT_TRUE(seenText[i].empty() || seenText[i] == fromFile) << i << ": " << seenText[i];
            ASSERT_EQ(text, seenText[i]) << i;
        } else {
            ASSERT_EQ(text, fromFile) << i;
        }
    }
}

// A log line is sent synchronously to the GUI thread, which may itself be
// asking for a text at that moment.
class GuiThreadLookingUpTexts final : public MainWindowCommands {
  public:
    intptr_t send(uintptr_t, intptr_t) override {
        auto done = std::make_shared<std::promise<void>>();
        std::future<void> finished = done->get_future();
        lookups.emplace_back([done] {
            Texts::get("ASKED_WHILE_LOGGING");
            done->set_value();
        });
        if (finished.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            ++blocked;
        }
        ++sends;
        return 0;
    }

    std::vector<std::thread> lookups;
    int sends = 0;
    int blocked = 0;
};

TEST_F(TextsTest, LoggingDoesNotBlockTheGuiThreadsLookups) {
    writeLanguageFile("de", "K=v\r\n");
    GuiThreadLookingUpTexts gui;
    setMainWindowCommands(&gui);
    setLoggingEnabled(true);
    Texts::init(configurationPath(), FakeLanguage("German"));
    for (std::thread& lookup : gui.lookups) {
        lookup.join();
    }
    EXPECT_EQ(gui.sends, 3);
    EXPECT_EQ(gui.blocked, 0);
    EXPECT_EQ(Texts::get("K"), "v");
}

// The language files shipped with the program.

const char* const allKeys[] = {
    "SYS_OPEN_PORTAL",     "SYS_ABOUT_US",   "SYS_EXIT",           "OPEN_PORTAL",
    "NO_INTERNET",         "NO_USB",         "MAX_DUTY_CYCLE",     "NEXT_TRANSMIT",
    "MSG_BOX_NO_INTERNET", "MSG_BOX_NO_USB", "MSG_BOX_DUTY_CYCLE", "ERROR_MESSAGE_TITLE",
};
const char* const tooltipFaultKeys[] = {"NO_INTERNET", "NO_USB", "MAX_DUTY_CYCLE"};
const char* const shippedLanguages[][2] = {
    {"de", "German"}, {"en", "English"}, {"es", "Spanish"}, {"fr", "French"}, {"it", "Italian"},
};
constexpr std::size_t maxTooltipText = 40;
constexpr std::size_t maxTooltip = 127;

std::string readShippedFile(const std::string& code) {
    std::ifstream in(std::string(QUORVEL_SOURCE_DIR) + "/resources/" + code + ".txt",
                     std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// True when the bytes at i form a well-formed UTF-8 sequence of two to four
// bytes, which a cp1252 text in any of our languages practically never does.
bool utf8SequenceAt(const std::string& bytes, std::size_t i) {
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(bytes[at]); };
    const unsigned char lead = byte(i);
    std::size_t continuation = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        continuation = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        continuation = 2;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        continuation = 3;
    } else {
        return false;
    }
    if (i + continuation >= bytes.size()) {
        return false;
    }
    for (std::size_t k = 1; k <= continuation; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            return false;
        }
    }
    return true;
}

// The CR LF separated lines; a missing line end after the last line is
// caught separately.
std::vector<std::string> linesOf(const std::string& bytes) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t end = bytes.find("\r\n", start);
        lines.push_back(bytes.substr(start, end - start));
        start = end == std::string::npos ? bytes.size() : end + 2;
    }
    return lines;
}

TEST_F(TextsTest, ShippedFilesAreWellFormedCp1252WithEveryKey) {
    for (const auto& language : shippedLanguages) {
        const std::string code = language[0];
        SCOPED_TRACE(code + ".txt");
        const std::string bytes = readShippedFile(code);
        ASSERT_FALSE(bytes.empty());

        EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
        bool nonAscii = false;
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            const unsigned char b = static_cast<unsigned char>(bytes[i]);
            if (b == '\n') {
                EXPECT_TRUE(i > 0 && bytes[i - 1] == '\r') << "bare LF at " << i;
            } else if (b == '\r') {
                EXPECT_TRUE(i + 1 < bytes.size() && bytes[i + 1] == '\n') << "bare CR at " << i;
            } else {
                EXPECT_GE(b, 0x20) << "control byte at " << i;
                EXPECT_NE(b, 0x7F) << "control byte at " << i;
            }
            // Bytes cp1252 leaves undefined.
            EXPECT_TRUE(b != 0x81 && b != 0x8D && b != 0x8F && b != 0x90 && b != 0x9D)
                << "undefined cp1252 byte at " << i;
            EXPECT_FALSE(utf8SequenceAt(bytes, i)) << "UTF-8 sequence at " << i;
            nonAscii = nonAscii || b >= 0x80;
        }
        EXPECT_EQ(nonAscii, code != "en");

        std::set<std::string> names;
        for (const std::string& line : linesOf(bytes)) {
            const std::size_t equals = line.find('=');
            if (equals == std::string::npos) {
                ADD_FAILURE() << "line without '=': " << line;
                continue;
            }
            const std::string name = line.substr(0, equals);
            EXPECT_TRUE(names.insert(name).second) << "duplicate " << name;
            EXPECT_GT(line.size(), equals + 1) << "empty text for " << name;
        }
        EXPECT_EQ(names, std::set<std::string>(std::begin(allKeys), std::end(allKeys)));
    }
}

TEST_F(TextsTest, ShippedTooltipTextsFitTheTooltip) {
    for (const auto& language : shippedLanguages) {
        SCOPED_TRACE(std::string(language[0]) + ".txt");
        Texts::resetForTesting();
        Texts::init(std::string(QUORVEL_SOURCE_DIR) + "/quorvel.ini", FakeLanguage(language[1]));
        EXPECT_LE(Texts::get("OPEN_PORTAL").size(), maxTooltipText);
        EXPECT_LE(Texts::get("NEXT_TRANSMIT").size(), maxTooltipText);
        std::string worst;
        for (const char* key : tooltipFaultKeys) {
            EXPECT_LE(Texts::get(key).size(), maxTooltipText) << key;
            worst += Texts::get(key) + "\r\n";
        }
        // Every fault at once still leaves room for the next contact time.
        worst += Texts::get("NEXT_TRANSMIT") + ": 14:05";
        EXPECT_LE(worst.size(), maxTooltip) << worst;
    }
}

TEST_F(TextsTest, ShippedFilesAreReallyTranslated) {
    const std::string germanAbout =
        "\xDC"
        "ber";
    Texts::init(std::string(QUORVEL_SOURCE_DIR) + "/quorvel.ini", FakeLanguage("English"));
    const std::string englishExit = Texts::get("SYS_EXIT");
    const std::string englishNoUsb = Texts::get("MSG_BOX_NO_USB");
    for (const auto& language : shippedLanguages) {
        SCOPED_TRACE(std::string(language[0]) + ".txt");
        Texts::resetForTesting();
        Texts::init(std::string(QUORVEL_SOURCE_DIR) + "/quorvel.ini", FakeLanguage(language[1]));
        for (const char* key : allKeys) {
            EXPECT_FALSE(Texts::get(key).empty()) << key;
        }
        if (std::string(language[0]) != "en") {
            EXPECT_NE(Texts::get("SYS_EXIT"), englishExit);
            EXPECT_NE(Texts::get("MSG_BOX_NO_USB"), englishNoUsb);
        }
    }
    Texts::resetForTesting();
    Texts::init(std::string(QUORVEL_SOURCE_DIR) + "/quorvel.ini", FakeLanguage("German"));
    EXPECT_EQ(Texts::get("SYS_ABOUT_US").rfind(germanAbout, 0), 0u) << Texts::get("SYS_ABOUT_US");
}

}  // namespace
