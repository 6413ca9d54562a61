#include "core/win32/ErrorWords.h"

#include <windows.h>

#include "core/Text.h"

namespace {

// The errors people meet when the portal or its proxy cannot be reached,
// in words shorter and plainer than the system's own.
struct KnownError {
    uint32_t code;
    const char* words;
};
constexpr KnownError knownErrors[] = {
    {5, "access denied"},
    {10013, "access denied by the system (a firewall?)"},
    {10050, "network is down"},
    {10051, "network unreachable"},
    {10053, "connection aborted"},
    {10054, "connection reset"},
    {10060, "connection timed out"},
    {10061, "connection refused"},
    {10064, "host is down"},
    {10065, "host unreachable"},
    {11001, "host not found"},
    {11002, "name server did not answer, try again"},
    {11004, "host has no address"},
    {12002, "timed out"},
    {12007, "host not found"},
    {12029, "cannot connect"},
    {12030, "connection aborted"},
    {12031, "connection reset"},
    {12037, "certificate expired or not yet valid"},
    {12038, "certificate made for another host name"},
    {12044, "the server asks for a client certificate"},
    {12045, "certificate from an authority Windows does not trust"},
    {12057, "certificate revocation could not be checked"},
    {12152, "the server's answer is not HTTP"},
    {12175, "secure channel error"},
};

// WinINet's numbers are described by wininet.dll, not by the system.
std::string systemWords(uint32_t code) {
    DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    const HMODULE wininet =
        code >= 12000 && code < 13000 ? GetModuleHandleA("wininet.dll") : nullptr;
    if (wininet != nullptr) {
        flags |= FORMAT_MESSAGE_FROM_HMODULE;
    }
    char text[512] = {};
    DWORD length = FormatMessageA(flags, wininet, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                  text, sizeof(text), nullptr);
    // The system's texts end with a full stop and a line end.
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' ||
                          text[length - 1] == ' ' || text[length - 1] == '.')) {
        --length;
    }
    return std::string(text, length);
}

}  // namespace

std::string errorWords(uint32_t code) {
    for (const KnownError& known : knownErrors) {
        if (known.code == code) {
            return known.words;
        }
    }
    const std::string words = systemWords(code);
    return words.empty() ? "error" : words;
}

std::string errorInWords(uint32_t code) {
    return errorWords(code) + " (" + decimalText(code) + ")";
}
