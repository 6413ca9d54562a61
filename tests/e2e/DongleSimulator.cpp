#include "tests/e2e/DongleSimulator.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <sstream>
#include <stdexcept>

namespace quorvel::e2e {

namespace fs = std::filesystem;

DongleSimulator::DongleSimulator(const WineSetup& setup, const fs::path& folder)
    : setup_(setup), folder_(folder) {
    const fs::path simDir = QUORVEL_E2E_DONGLESIM_DIR;
    fs::remove_all(folder_);
    fs::create_directories(folder_ / "sim");
    fs::create_directories(folder_ / "probe");
    fs::copy_file(simDir / "donglesim.exe", folder_ / "sim" / "donglesim.exe");
    for (const fs::path& file :
         {fs::path(QUORVEL_E2E_DONGLEPROBE_EXE), simDir / "setupapi.dll", simDir / "hid.dll"}) {
        fs::copy_file(file, folder_ / "probe" / file.filename());
    }
    const fs::path log = folder_ / "sim" / "donglesim.log";
    simulator_ = WineProcess(setup_, folder_ / "sim" / "donglesim.exe", {}, folder_ / "sim", log);
    // The simulator announces its control port as a whole line "port=N".
    int port = 0;
    waitUntil(
        [&] {
            const std::string text = readFile(log);
            const auto at = text.find("port=");
            if (at != std::string::npos && text.find('\n', at) != std::string::npos) {
                port = std::stoi(text.substr(at + 5));
            }
            return port != 0;
        },
        milliseconds(30000));
    if (port == 0) {
        throw std::runtime_error("donglesim did not start: " + readFile(log));
    }
    socket_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (socket_ < 0 ||
        ::connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        throw std::runtime_error("cannot reach donglesim on port " + std::to_string(port));
    }
    timeval limit{20, 0};
    setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
}

DongleSimulator::~DongleSimulator() {
    if (socket_ >= 0) {
        command("quit");
        ::close(socket_);
    }
    if (!simulator_.waitForExit(milliseconds(5000))) {
        simulator_.kill();
    }
}

std::string DongleSimulator::command(const std::string& line) {
    const std::string out = line + "\n";
    if (::send(socket_, out.data(), out.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(out.size())) {
        return "error send";
    }
    for (;;) {
        const auto end = pending_.find('\n');
        if (end != std::string::npos) {
            std::string answer = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return answer;
        }
        char chunk[4096];
        const ssize_t got = ::recv(socket_, chunk, sizeof chunk, 0);
        if (got <= 0) {
            return "error no answer";
        }
        pending_.append(chunk, static_cast<std::size_t>(got));
    }
}

std::vector<std::string> DongleSimulator::values(const std::string& line) {
    std::istringstream answer(command(line));
    std::string word;
    std::vector<std::string> words;
    if (answer >> word && word == "ok") {
        while (answer >> word) {
            words.push_back(word);
        }
    }
    return words;
}

CommandResult DongleSimulator::probe(const std::vector<std::string>& args,
                                     milliseconds timeout) const {
    std::vector<std::string> argv{setup_.wine.string(),
                                  (folder_ / "probe" / "dongleprobe.exe").string()};
    argv.insert(argv.end(), args.begin(), args.end());
    auto env = setup_.environment();
    // The stand-ins beside the probe take the system DLLs' place.
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml=;setupapi,hid=n,b";
    return runCaptured(argv, env, timeout);
}

}  // namespace quorvel::e2e
