// portalsim: the portal simulator as a command, for the demo and by hand.
//
//   portalsim [--port N] [--status N] [--reply TEXT]...
//
// Listens on 127.0.0.1 (port 0 picks a free one and prints it), answers the
// n-th request with the n-th --reply (the last one repeats; "\n" and "\r"
// in TEXT stand for line breaks) and prints every request it receives. Also
// a plain HTTP forward proxy. Runs until SIGINT or SIGTERM.

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "tools/portalsim/PortalSimulator.h"

namespace {

std::string unescaped(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == 'n' || text[i + 1] == 'r')) {
            out += text[i + 1] == 'n' ? '\n' : '\r';
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    using quorvel::portalsim::PortalSimulator;
    using quorvel::portalsim::Reply;
    int port = 0;
    int status = 200;
    std::vector<std::string> replies;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) {
            std::fprintf(stderr, "usage: portalsim [--port N] [--status N] [--reply TEXT]...\n");
            return 2;
        }
        const std::string value = argv[++i];
        if (option == "--port") {
            port = std::atoi(value.c_str());
        } else if (option == "--status") {
            status = std::atoi(value.c_str());
        } else if (option == "--reply") {
            replies.push_back(unescaped(value));
        } else {
            std::fprintf(stderr, "portalsim: unknown option %s\n", option.c_str());
            return 2;
        }
    }
    if (port < 0 || port > 65535) {
        std::fprintf(stderr, "portalsim: port out of range\n");
        return 2;
    }

    // Blocked before any thread starts, so only the wait below receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    try {
        PortalSimulator simulator(static_cast<uint16_t>(port));
        for (const std::string& reply : replies) {
            simulator.addReply(Reply::text(reply, status));
        }
        std::printf("portalsim: listening on 127.0.0.1:%u\n", simulator.port());
        std::fflush(stdout);
        std::size_t printed = 0;
        const timespec slice{0, 200 * 1000 * 1000};
        while (sigtimedwait(&stopSignals, nullptr, &slice) < 0) {
            const auto requests = simulator.requests();
            for (; printed < requests.size(); ++printed) {
                std::printf("portalsim: request %zu: %s", printed + 1,
                            requests[printed].describe().c_str());
            }
            std::fflush(stdout);
        }
        simulator.stop();
        std::printf("portalsim: stopped after %zu request(s)\n", simulator.requests().size());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
