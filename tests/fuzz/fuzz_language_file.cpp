// resources/<code>.txt, the texts of menus, tooltips and message boxes:
// Texts::init must take any bytes, get() give the first NAME=text line's.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "tests/fuzz/FuzzSupport.h"
#include "ui/SystemLanguage.h"
#include "ui/Texts.h"

namespace {

class French final : public SystemLanguage {
  public:
    std::string englishName() const override { return "French"; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static const FuzzTempFile file("resources/fr.txt");
    fuzzLoggingOn();
    if (!file.write(data, size)) {
        return 0;
    }
    const French language;
    Texts::resetForTesting();
    Texts::init(file.folder + "quorvel.ini", language);

    std::map<std::string, std::string> expected;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    for (const std::string& line : modelLines(bytes, Texts::maxLineLength)) {
        if (line.size() < 2) {
            continue;
        }
        const std::string::size_type equals = line.find('=');  // none: the name is the text
        expected.emplace(line.substr(0, equals),
                         equals == std::string::npos ? line : line.substr(equals + 1));
    }
    int asked = 0;
    for (const auto& entry : expected) {
        if (++asked > 64) {
            break;
        }
        FUZZ_CHECK(Texts::get(entry.first) == entry.second);
    }
    // Keys the agent asks for; one the file lacks reads as empty and stays so.
    for (const char* key : {"SYS_OPEN_PORTAL", "SYS_ABOUT_US", "SYS_EXIT", "OPEN_PORTAL",
                            "NO_INTERNET", "NO_USB", "MAX_DUTY_CYCLE", ""}) {
        const std::string& text = Texts::get(key);
        const auto found = expected.find(key);
        FUZZ_CHECK(text == (found != expected.end() ? found->second : std::string()));
        FUZZ_CHECK(&Texts::get(key) == &text);
    }
    return 0;
}
