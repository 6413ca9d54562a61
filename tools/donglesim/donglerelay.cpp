// Carries the simulated dongle from one Wine prefix into another, for tests
// that need two agents sharing one dongle: under Wine every virtual desktop
// of a prefix is one session, so the second agent runs in a prefix of its
// own, and named pipes do not cross wineservers. Loopback TCP does.
//
//   donglerelay.exe out        in the simulator's prefix: prints "port=N",
//                              then serves each connection: a pipe name
//                              line, then that pipe's messages both ways
//   donglerelay.exe in PORT    in the other prefix: serves the directory pipe
//                              and each device pipe it lists, every
//                              connection carried to `out` on PORT
//
// On the wire each message is its length (4 bytes, little-endian) and its
// bytes, so the pipes' message boundaries (one report each) survive.

#include <windows.h>
#include <winsock2.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "tools/donglesim/Threads.h"
#include "tools/donglesim/standins/SimulatedDevices.h"

namespace {

using quorvel::donglesim::startDetached;

bool sendAll(SOCKET socket, const char* data, std::size_t size) {
    while (size > 0) {
        const int put = send(socket, data, static_cast<int>(size), 0);
        if (put <= 0) {
            return false;
        }
        data += put;
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

bool receiveAll(SOCKET socket, char* data, std::size_t size) {
    while (size > 0) {
        const int got = recv(socket, data, static_cast<int>(size), 0);
        if (got <= 0) {
            return false;
        }
        data += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

bool sendMessage(SOCKET socket, const std::string& message) {
    const auto size = static_cast<uint32_t>(message.size());
    const char length[4] = {static_cast<char>(size), static_cast<char>(size >> 8),
                            static_cast<char>(size >> 16), static_cast<char>(size >> 24)};
    return sendAll(socket, length, 4) && sendAll(socket, message.data(), message.size());
}

bool receiveMessage(SOCKET socket, std::string& message) {
    unsigned char length[4];
    if (!receiveAll(socket, reinterpret_cast<char*>(length), 4)) {
        return false;
    }
    const uint32_t size =
        length[0] | (length[1] << 8) | (length[2] << 16) | (static_cast<uint32_t>(length[3]) << 24);
    if (size > 65536) {
        return false;
    }
    message.assign(size, '\0');
    return receiveAll(socket, message.data(), size);
}

// One overlapped read or write on the pipe, waited for; a handle opened
// overlapped lets the two directions run at once on two threads.
bool pipeIo(HANDLE pipe, bool write, char* data, DWORD size, DWORD& done) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    BOOL started = write ? WriteFile(pipe, data, size, nullptr, &overlapped)
                         : ReadFile(pipe, data, size, nullptr, &overlapped);
    const bool ok = (started || GetLastError() == ERROR_IO_PENDING) &&
                    GetOverlappedResult(pipe, &overlapped, &done, TRUE);
    CloseHandle(overlapped.hEvent);
    return ok;
}

// Carries messages both ways until either side ends, then closes both.
void pump(HANDLE pipe, SOCKET socket) {
    const HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    startDetached([pipe, socket, done] {
        std::string message;
        while (receiveMessage(socket, message)) {
            DWORD put = 0;
            if (!pipeIo(pipe, true, message.data(), static_cast<DWORD>(message.size()), put)) {
                break;
            }
        }
        CancelIoEx(pipe, nullptr);  // ends the other direction's read
        SetEvent(done);
    });
    char buffer[4096];
    DWORD got = 0;
    while (pipeIo(pipe, false, buffer, sizeof buffer, got)) {
        if (!sendMessage(socket, std::string(buffer, got))) {
            break;
        }
    }
    shutdown(socket, SD_BOTH);  // ends the other direction's receive
    WaitForSingleObject(done, INFINITE);
    CloseHandle(done);
    closesocket(socket);
    CloseHandle(pipe);
}

// ---- out: the simulator's side ---------------------------------------------

HANDLE openPipe(const std::string& name) {
    for (int attempt = 0; attempt < 50; ++attempt) {
        // The directory pipe is outbound only.
        HANDLE pipe = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (pipe == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
            pipe = CreateFileA(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED, nullptr);
        }
        if (pipe != INVALID_HANDLE_VALUE || GetLastError() != ERROR_PIPE_BUSY) {
            return pipe;
        }
        WaitNamedPipeA(name.c_str(), 100);
    }
    return INVALID_HANDLE_VALUE;
}

void carryOut(SOCKET socket) {
    std::string name;
    if (!receiveMessage(socket, name)) {
        closesocket(socket);
        return;
    }
    const HANDLE pipe = openPipe(name);
    if (pipe == INVALID_HANDLE_VALUE) {
        closesocket(socket);  // as a pipe that is not there: the host sees it end
        return;
    }
    DWORD mode = PIPE_READMODE_MESSAGE;
    SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);
    pump(pipe, socket);
}

int out() {
    const SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof address;
    if (listener == INVALID_SOCKET ||
        bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 16) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        std::fprintf(stderr, "donglerelay: cannot listen, WSAGetLastError=%d\n", WSAGetLastError());
        return 1;
    }
    std::printf("port=%u\n", ntohs(address.sin_port));
    std::fflush(stdout);
    for (;;) {
        const SOCKET client = accept(listener, nullptr, nullptr);
        if (client == INVALID_SOCKET) {
            return 1;
        }
        startDetached([client] { carryOut(client); });
    }
}

// ---- in: the other prefix's side --------------------------------------------

uint16_t outPort = 0;

SOCKET connectOut(const std::string& name) {
    const SOCKET socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(outPort);
    if (socket == INVALID_SOCKET ||
        connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        !sendMessage(socket, name)) {
        closesocket(socket);
        return INVALID_SOCKET;
    }
    return socket;
}

HANDLE newInstance(const std::string& name) {
    return CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                            PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                            PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
}

bool awaitHost(HANDLE pipe) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD ignored = 0;
    const bool connected = ConnectNamedPipe(pipe, &overlapped) ||
                           GetLastError() == ERROR_PIPE_CONNECTED ||
                           (GetLastError() == ERROR_IO_PENDING &&
                            GetOverlappedResult(pipe, &overlapped, &ignored, TRUE));
    CloseHandle(overlapped.hEvent);
    return connected;
}

// Serves the pipe `name` for good from its `first` instance, made before a
// host is told the name. A spare instance is always up, so a host that
// opens the device twice in quick succession never finds it busy.
void serve(const std::string& name, HANDLE first, const std::function<void(HANDLE)>& connection) {
    HANDLE spare = first;
    while (spare != INVALID_HANDLE_VALUE) {
        const HANDLE current = spare;
        spare = newInstance(name);
        if (!awaitHost(current)) {
            CloseHandle(current);
            continue;
        }
        startDetached([connection, current] { connection(current); });
    }
}

std::mutex servedLock;
std::set<std::string> served;

void carryIn(const std::string& name, HANDLE pipe) {
    const SOCKET socket = connectOut(name);
    if (socket == INVALID_SOCKET) {
        CloseHandle(pipe);
        return;
    }
    pump(pipe, socket);
}

// The listing from the other side, each device in it served here too.
void directory(HANDLE pipe) {
    std::string listing;
    const SOCKET socket = connectOut(QUORVEL_SIM_DIRECTORY_PIPE);
    std::string message;
    while (socket != INVALID_SOCKET && receiveMessage(socket, message)) {
        listing += message;
    }
    closesocket(socket);
    std::size_t start = 0;
    while (start < listing.size()) {
        std::size_t end = listing.find('\n', start);
        end = end == std::string::npos ? listing.size() : end;
        const std::string device = listing.substr(start, end - start);
        start = end + 1;
        const std::lock_guard<std::mutex> hold(servedLock);
        if (!device.empty() && served.insert(device).second) {
            const HANDLE first = newInstance(device);
            startDetached([device, first] {
                serve(device, first, [device](HANDLE host) { carryIn(device, host); });
            });
        }
    }
    DWORD put = 0;
    pipeIo(pipe, true, listing.data(), static_cast<DWORD>(listing.size()), put);
    FlushFileBuffers(pipe);
    CloseHandle(pipe);
}

}  // namespace

int main(int argc, char** argv) {
    WSADATA winsock{};
    if (WSAStartup(MAKEWORD(2, 2), &winsock) != 0) {
        return 1;
    }
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "out") {
        return out();
    }
    if (mode == "in" && argc > 2) {
        outPort = static_cast<uint16_t>(std::atoi(argv[2]));
        const HANDLE first = newInstance(QUORVEL_SIM_DIRECTORY_PIPE);
        std::printf("serving\n");
        std::fflush(stdout);
        serve(QUORVEL_SIM_DIRECTORY_PIPE, first, directory);
        return 1;
    }
    std::fprintf(stderr, "usage: donglerelay.exe out | donglerelay.exe in PORT\n");
    return 2;
}
