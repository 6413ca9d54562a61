#include "check/EndAgents.h"

namespace {

std::string lowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

bool startsWith(const std::string& text, const std::string& start) {
    return text.compare(0, start.size(), start) == 0;
}

}  // namespace

std::string comparablePath(const std::string& path) {
    std::string text = path;
    for (char& c : text) {
        if (c == '/') {
            c = '\\';
        }
    }
    // \\?\UNC\server\share is \\server\share; \\?\C:\ is C:\.
    if (startsWith(text, "\\\\?\\UNC\\")) {
        text = "\\\\" + text.substr(8);
    } else if (startsWith(text, "\\\\?\\")) {
        text = text.substr(4);
    }
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        // A network path keeps its leading pair.
        if (text[i] == '\\' && !out.empty() && out.back() == '\\' && i > 1) {
            continue;
        }
        out += text[i];
    }
    return lowerAscii(out);
}

EndAgentsResult endAgents(AgentProcesses& processes, const std::string& agentImage) {
    EndAgentsResult result;
    const std::string ours = comparablePath(agentImage);
    const auto say = [&](const std::string& line, bool ended) {
        result.lines.push_back(line);
        result.allEnded = result.allEnded && ended;
    };
    if (ours.empty()) {
        say("quorvel-check's own folder could not be read", false);
        return result;
    }
    const AgentProcesses::Listing listing = processes.list();
    if (!listing.error.empty()) {
        say("the running programs could not be listed: " + listing.error, false);
    }
    for (const AgentProcesses::Listed& listed : listing.processes) {
        if (lowerAscii(listed.name) != "quorvel.exe") {
            continue;
        }
        const std::string who = "quorvel.exe (process " + std::to_string(listed.pid) + ")";
        const AgentProcesses::Opening opening = processes.open(listed.pid);
        if (opening.access == AgentProcesses::Access::Gone) {
            say(who + " had already ended", true);
            continue;
        }
        // One that may not be ended may still be read: from another folder
        // it is none of ours.
        if (!opening.image.empty() && comparablePath(opening.image) != ours) {
            say(who + " left running: it runs from " + opening.image, true);
            continue;
        }
        if (opening.access == AgentProcesses::Access::Refused) {
            say(who + " could not be opened to be ended: " + opening.error, false);
            continue;
        }
        const std::string failure = processes.end(listed.pid);
        if (!failure.empty()) {
            // Ending one that has just ended by itself fails, and is no fault.
            if (processes.waitGone(listed.pid, 0)) {
                say(who + " had already ended", true);
            } else {
                say(who + " could not be ended: " + failure, false);
            }
        } else if (!processes.waitGone(listed.pid, kAgentGoneTimeoutMs)) {
            say(who + " was told to end but is still running after " +
                    std::to_string(kAgentGoneTimeoutMs / 1000) + " s",
                false);
        } else {
            say("ended " + who + " from " + opening.image, true);
        }
    }
    if (result.lines.empty()) {
        result.lines.push_back("no Quorvel agent runs from " + agentImage);
    }
    return result;
}
