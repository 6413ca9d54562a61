#include "storage/FolderRights.h"

#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <utility>

namespace {

// The well-known accounts by their SDDL alias; Windows writes a SID it
// has an alias for as the alias, and other systems may not.
const std::pair<const char*, const char*> knownAccounts[] = {
    {"SY", "S-1-5-18"},     {"BA", "S-1-5-32-544"}, {"BU", "S-1-5-32-545"}, {"BG", "S-1-5-32-546"},
    {"PU", "S-1-5-32-547"}, {"OW", "S-1-3-4"},      {"CO", "S-1-3-0"},      {"CG", "S-1-3-1"},
    {"WD", "S-1-1-0"},      {"AU", "S-1-5-11"},     {"IU", "S-1-5-4"},      {"LS", "S-1-5-19"},
    {"NS", "S-1-5-20"},     {"AC", "S-1-15-2-1"},
};

const std::pair<const char*, const char*> accountNames[] = {
    {"S-1-5-18", "SYSTEM"},       {"S-1-5-32-544", "Administrators"},
    {"S-1-5-32-545", "Users"},    {"S-1-3-4", "OWNER RIGHTS"},
    {"S-1-1-0", "Everyone"},      {"S-1-5-11", "Authenticated Users"},
    {"S-1-3-0", "CREATOR OWNER"},
};

// Access rights by their SDDL letters. The generic rights are taken as a
// file system maps them.
const std::pair<const char*, uint32_t> rightLetters[] = {
    {"FA", 0x1f01ff}, {"FR", 0x120089}, {"FW", 0x120116}, {"FX", 0x1200a0}, {"GA", 0x1f01ff},
    {"GR", 0x120089}, {"GW", 0x120116}, {"GX", 0x1200a0}, {"KA", 0xf003f},  {"KR", 0x20019},
    {"KW", 0x20006},  {"KX", 0x20019},  {"SD", 0x10000},  {"RC", 0x20000},  {"WD", 0x40000},
    {"WO", 0x80000},  {"CC", 0x1},      {"DC", 0x2},      {"LC", 0x4},      {"SW", 0x8},
    {"RP", 0x10},     {"WP", 0x20},     {"DT", 0x40},     {"LO", 0x80},     {"CR", 0x100},
};

std::string canonicalAccount(const std::string& text) {
    for (const auto& [alias, sid] : knownAccounts) {
        if (text == alias) {
            return sid;
        }
    }
    return text;
}

std::string accountName(const std::string& sid) {
    for (const auto& [known, name] : accountNames) {
        if (sid == known) {
            return name;
        }
    }
    return sid;
}

std::optional<uint32_t> rightsOf(const std::string& text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        uint32_t value = 0;
        for (std::size_t i = 2; i < text.size(); ++i) {
            const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
            const char* digits = "0123456789abcdef";
            const char* at = std::char_traits<char>::find(digits, 16, c);
            if (at == nullptr || i > 9) {
                return std::nullopt;
            }
            value = value * 16 + static_cast<uint32_t>(at - digits);
        }
        return value;
    }
    if (text.empty() || text.size() % 2 != 0) {
        return std::nullopt;
    }
    uint32_t value = 0;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        bool known = false;
        for (const auto& [letters, bits] : rightLetters) {
            if (text.compare(i, 2, letters) == 0) {
                value |= bits;
                known = true;
                break;
            }
        }
        if (!known) {
            return std::nullopt;
        }
    }
    return value;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts(1);
    for (char c : text) {
        if (c == separator) {
            parts.emplace_back();
        } else {
            parts.back() += c;
        }
    }
    return parts;
}

bool hasFlag(const std::string& flags, const char* flag) {
    for (std::size_t i = 0; i + 1 < flags.size(); i += 2) {
        if (flags.compare(i, 2, flag) == 0) {
            return true;
        }
    }
    return false;
}

enum Scope { FolderItself, Files, Subfolders, scopeCount };
const char* const scopeNames[scopeCount] = {"the folder itself", "its files", "its subfolders"};

// A descriptor as what it grants: per account, the rights on the folder
// itself, on files and on subfolders below it; and whatever this
// comparison does not model (denials, object entries, limited
// inheritance), kept as text so that it shows as a difference.
struct Grants {
    bool readable = true;
    std::string owner;
    bool isProtected = false;
    std::map<std::string, std::array<uint32_t, scopeCount>> allowed;
    std::vector<std::string> unmodelled;
};

Grants grantsOf(const std::string& sddl) {
    Grants grants;
    std::size_t at = 0;
    bool sawList = false;
    while (at < sddl.size()) {
        if (at + 1 >= sddl.size() || sddl[at + 1] != ':') {
            grants.readable = false;
            return grants;
        }
        const char part = sddl[at];
        at += 2;
        if (part == 'O' || part == 'G') {
            const std::size_t end = sddl.find_first_of(":(", at);
            // The next part starts one letter before its colon.
            const std::size_t stop = end == std::string::npos ? sddl.size() : end - 1;
            if (part == 'O') {
                grants.owner = canonicalAccount(sddl.substr(at, stop - at));
            }
            at = stop;
        } else if (part == 'D' || part == 'S') {
            const bool list = part == 'D';
            const std::size_t firstEntry = sddl.find('(', at);
            const std::size_t flagsEnd = std::min(firstEntry, sddl.find(':', at) - 1);
            const std::string flags = sddl.substr(at, std::min(flagsEnd, sddl.size()) - at);
            if (list) {
                sawList = true;
                grants.isProtected = flags.find('P') != std::string::npos;
            }
            at = std::min(flagsEnd, sddl.size());
            while (at < sddl.size() && sddl[at] == '(') {
                const std::size_t close = sddl.find(')', at);
                if (close == std::string::npos) {
                    grants.readable = false;
                    return grants;
                }
                const std::string text = sddl.substr(at, close + 1 - at);
                at = close + 1;
                if (!list) {
                    continue;
                }
                const std::vector<std::string> fields = split(text.substr(1, text.size() - 2), ';');
                const std::optional<uint32_t> rights =
                    fields.size() == 6 ? rightsOf(fields[2]) : std::nullopt;
                const std::string& entryFlags = fields.size() == 6 ? fields[1] : text;
                if (!rights || fields[0] != "A" || !fields[3].empty() || !fields[4].empty() ||
                    hasFlag(entryFlags, "NP")) {
                    grants.unmodelled.push_back(text);
                    continue;
                }
                auto& account = grants.allowed[canonicalAccount(fields[5])];
                if (!hasFlag(entryFlags, "IO")) {
                    account[FolderItself] |= *rights;
                }
                if (hasFlag(entryFlags, "OI")) {
                    account[Files] |= *rights;
                }
                if (hasFlag(entryFlags, "CI")) {
                    account[Subfolders] |= *rights;
                }
            }
        } else {
            grants.readable = false;
            return grants;
        }
    }
    grants.readable = grants.readable && sawList;
    return grants;
}

std::string hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(value));
    return text;
}

}  // namespace

std::vector<std::string> rightsDifferences(const std::string& actual, const std::string& wanted) {
    const Grants is = grantsOf(actual);
    const Grants should = grantsOf(wanted);
    std::vector<std::string> differences;
    if (!is.readable) {
        differences.push_back("its owner and access list cannot be read (\"" + actual + "\")");
        return differences;
    }
    if (!should.owner.empty() && is.owner != should.owner) {
        differences.push_back("owner " + accountName(is.owner) + ", not " +
                              accountName(should.owner));
    }
    if (should.isProtected && !is.isProtected) {
        differences.push_back("the access list takes entries from the folder above");
    }
    std::map<std::string, std::array<uint32_t, scopeCount>> accounts = is.allowed;
    accounts.insert(should.allowed.begin(), should.allowed.end());
    // Rights granted beyond the wanted ones first: they are what lets one
    // user reach another's agent.
    for (const bool beyond : {true, false}) {
        for (const auto& entry : accounts) {
            const std::string& account = entry.first;
            const auto found = is.allowed.find(account);
            const auto expected = should.allowed.find(account);
            for (int scope = 0; scope < scopeCount; ++scope) {
                const uint32_t has = found == is.allowed.end() ? 0 : found->second[scope];
                const uint32_t wants =
                    expected == should.allowed.end() ? 0 : expected->second[scope];
                if (has != wants && ((has & ~wants) != 0) == beyond) {
                    differences.push_back(accountName(account) + " has " + hex(has) + " on " +
                                          scopeNames[scope] + ", not " + hex(wants));
                }
            }
        }
    }
    for (const std::string& entry : is.unmodelled) {
        differences.push_back("an entry the setup does not make: " + entry);
    }
    return differences;
}
