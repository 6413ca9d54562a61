#include "check/Configure.h"

#include <cstdint>
#include <optional>

#include "core/InitialConfiguration.h"
#include "storage/FileSystem.h"

namespace {

// Far above any real quorvel.ini: a file this large is not one, and a
// rewrite of a part of it would lose the rest.
constexpr std::size_t maxFileBytes = 1 << 20;

// Decimal digits only, within 32 bits: the agent reads "80a8" as 80, so
// what it would quietly read otherwise is refused here.
std::optional<int64_t> wholeNumber(const std::string& value) {
    if (value.empty() || value.size() > 10) {
        return std::nullopt;
    }
    int64_t number = 0;
    for (char c : value) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        number = number * 10 + (c - '0');
    }
    return number <= INT32_MAX ? std::optional<int64_t>(number) : std::nullopt;
}

bool isPort(const std::string& value) {
    const auto number = wholeNumber(value);
    return number && *number >= 1 && *number <= 65535;
}

struct Line {
    std::string content;
    std::string end;  // "\r\n", "\n", or "" for a last line without one
};

std::vector<Line> splitLines(const std::string& text) {
    std::vector<Line> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t newline = text.find('\n', start);
        if (newline == std::string::npos) {
            lines.push_back({text.substr(start), ""});
            break;
        }
        // The agent's reader drops the CR before an LF; so does the match.
        const std::size_t contentEnd =
            newline > start && text[newline - 1] == '\r' ? newline - 1 : newline;
        lines.push_back({text.substr(start, contentEnd - start),
                         text.substr(contentEnd, newline + 1 - contentEnd)});
        start = newline + 1;
    }
    return lines;
}

// The setup program's switches by the key each sets; PROXY, which sets
// two, is split below.
const std::pair<const char*, const char*> kSwitchKeys[] = {
    {"PORTAL_HOST", "PORTAL_SERVER_HOST"}, {"PORTAL_PORT", "PORTAL_SERVER_PORT"},
    {"PORTAL_PATH", "PORTAL_SERVER_URI"},  {"PARTNER", "PARTNER"},
    {"LOGGING", "ENABLE_LOGGING"},
};

// Adds what KEY=VALUE sets; "" or why it cannot.
std::string addSettings(const std::string& assignment, std::vector<Setting>& settings) {
    const std::size_t equals = assignment.find('=');
    if (equals == std::string::npos) {
        return "not KEY=VALUE";
    }
    std::string key = assignment.substr(0, equals);
    const std::string value = assignment.substr(equals + 1);
    if (key == "PROXY") {
        // host:port, split at the last colon; empty for a direct connection.
        const std::size_t colon = value.rfind(':');
        const std::string host = colon == std::string::npos ? value : value.substr(0, colon);
        const std::string port = colon == std::string::npos ? "" : value.substr(colon + 1);
        if (!value.empty() && (host.empty() || !isPort(port))) {
            return "the proxy must be host:port, the port a whole number from 1 to 65535";
        }
        settings.emplace_back("PROXY_SERVER_HOST", host);
        settings.emplace_back("PROXY_SERVER_PORT", port);
        return "";
    }
    for (const auto& [name, iniKey] : kSwitchKeys) {
        if (key == name) {
            key = iniKey;
        }
    }
    const std::string problem = settingProblem(key, value);
    if (problem.empty()) {
        settings.emplace_back(key, value);
    }
    return problem;
}

// The settings of every assignment, or the outcome refusing them.
std::optional<ConfigureOutcome> parse(const std::vector<std::string>& assignments,
                                      std::vector<Setting>& settings) {
    for (const std::string& assignment : assignments) {
        const std::string problem = addSettings(assignment, settings);
        if (!problem.empty()) {
            return ConfigureOutcome{
                2, "quorvel-check: " + assignment + ": " + problem + "; nothing written"};
        }
    }
    if (settings.empty()) {
        return ConfigureOutcome{2, "quorvel-check --configure: no KEY=VALUE given; nothing written"};
    }
    return std::nullopt;
}

std::string keptPath(const std::string& iniPath) { return iniPath + ".kept"; }

}  // namespace

std::string settingProblem(const std::string& key, const std::string& value) {
    const auto kind = InitialConfiguration::valueKindOf(key);
    if (!kind) {
        return "the agent knows no key " + key;
    }
    if (value.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
        return "a value cannot hold a line break";
    }
    if (key.size() + 1 + value.size() > InitialConfiguration::maxLineLength) {
        return "the line would be longer than the agent reads";
    }
    if (key == "PORTAL_SERVER_HOST" && value.empty()) {
        return "the portal host is missing";
    }
    if (key == "PORTAL_SERVER_PORT" && !isPort(value)) {
        return "the port must be a whole number from 1 to 65535";
    }
    // Empty with an empty proxy host: a direct connection.
    if (key == "PROXY_SERVER_PORT") {
        return value.empty() || isPort(value)
                   ? ""
                   : "the proxy port must be empty or a whole number from 1 to 65535";
    }
    if (key == "PORTAL_SERVER_URI" && value.rfind('/', 0) != 0) {
        return "the portal path must start with a slash";
    }
    if (*kind == InitialConfiguration::ValueKind::Number && !wholeNumber(value)) {
        return "the value must be a whole number";
    }
    if (*kind == InitialConfiguration::ValueKind::Switch && value != "true" && value != "false") {
        return "the value must be true or false";
    }
    return "";
}

std::string withSettings(std::string text, const std::vector<Setting>& settings) {
    std::vector<Line> lines = splitLines(text);
    // Appended lines end as the file's first line does; a new file as
    // Notepad's would.
    const std::string end =
        !lines.empty() && !lines.front().end.empty() ? lines.front().end : std::string("\r\n");
    for (const auto& [key, value] : settings) {
        const std::string line = key + "=" + value;
        bool replaced = false;
        for (auto it = lines.rbegin(); it != lines.rend() && !replaced; ++it) {
            if (it->content.rfind(key + "=", 0) == 0) {
                it->content = line;
                replaced = true;
            }
        }
        if (!replaced) {
            if (!lines.empty() && lines.back().end.empty()) {
                lines.back().end = end;
            }
            lines.push_back({line, end});
        }
    }
    text.clear();
    for (const Line& line : lines) {
        text += line.content + line.end;
    }
    return text;
}

ConfigureOutcome configure(FileSystem& files, const std::string& iniPath,
                           const std::vector<std::string>& assignments, bool takeSetAside) {
    std::vector<Setting> settings;
    if (auto refused = parse(assignments, settings)) {
        return *refused;
    }
    if (takeSetAside && files.probe(keptPath(iniPath)).exists &&
        !files.replaceFile(keptPath(iniPath), iniPath)) {
        return {1, "quorvel-check: " + keptPath(iniPath) + " could not be taken back; nothing written"};
    }
    std::vector<uint8_t> bytes;
    if (!files.readFile(iniPath, maxFileBytes + 1, bytes) || bytes.size() > maxFileBytes) {
        return {1, "quorvel-check: " + iniPath + " could not be read; nothing written"};
    }
    const std::string text = withSettings(std::string(bytes.begin(), bytes.end()), settings);
    if (!writeFileAtomically(files, iniPath, std::vector<uint8_t>(text.begin(), text.end()))) {
        return {1, "quorvel-check: " + iniPath + " could not be replaced; it is kept as it was"};
    }
    std::string keys;
    for (const auto& setting : settings) {
        keys += (keys.empty() ? "" : ", ") + setting.first;
    }
    return {0, "quorvel-check: set " + keys + " in " + iniPath};
}

ConfigureOutcome checkSettings(const std::vector<std::string>& assignments) {
    std::vector<Setting> settings;
    if (auto refused = parse(assignments, settings)) {
        return *refused;
    }
    return {0, "quorvel-check: the values can go into quorvel.ini"};
}

ConfigureOutcome setConfigurationAside(FileSystem& files, const std::string& folder) {
    // The package names the folder as "C:\...\Quorvel\." (a backslash
    // before the closing quote would escape it).
    std::string base = folder;
    while (!base.empty() && (base.back() == '.' || base.back() == '\\' || base.back() == '/')) {
        base.pop_back();
    }
    const std::string iniPath = base + "\\quorvel.ini";
    if (!files.probe(iniPath).exists) {
        return {0, "quorvel-check: no " + iniPath + " to set aside"};
    }
    if (!files.replaceFile(iniPath, keptPath(iniPath))) {
        return {1, "quorvel-check: " + iniPath + " could not be set aside"};
    }
    return {0, "quorvel-check: set " + iniPath + " aside until the new version takes it back"};
}

const std::vector<std::string>& setupSwitchNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> list;
        for (const auto& entry : kSwitchKeys) {
            list.push_back(entry.first);
        }
        list.push_back("PROXY");
        return list;
    }();
    return names;
}

std::vector<std::string> packageAssignments(const std::map<std::string, std::string>& properties,
                                            bool upgrade, const std::string& version) {
    std::vector<std::string> assignments{"SOFTWARE_VERSION=" + version};
    for (const std::string& name : setupSwitchNames()) {
        const auto it = properties.find(name);
        const std::string value = it == properties.end() ? "" : it->second;
        if (!value.empty() || (name == "PORTAL_HOST" && !upgrade)) {
            assignments.push_back(name + "=" + value);
        }
    }
    return assignments;
}

std::string commandLineOf(const std::vector<std::string>& arguments) {
    // Windows' rule: backslashes are literal unless they come before a
    // quote, where each pair stands for one.
    std::string line;
    for (const std::string& argument : arguments) {
        line += line.empty() ? "\"" : " \"";
        std::size_t backslashes = 0;
        for (char c : argument) {
            if (c == '\\') {
                ++backslashes;
            } else {
                if (c == '"') {
                    line.append(backslashes + 1, '\\');
                }
                backslashes = 0;
            }
            line += c;
        }
        line.append(backslashes, '\\');
        line += '"';
    }
    return line;
}
