// The simulated dongle under Wine: serves each simulated HID device as a
// named pipe that speaks the dongle's reports through DongleModel, lists the
// plugged devices on a directory pipe for the setupapi.dll stand-in, and
// takes commands from a test over a loopback TCP connection.
//
//   donglesim.exe        prints "port=N" once it listens on 127.0.0.1:N
//
// Commands, one per line, each answered with one line "ok ..." or "error ...":
//   add ID VID PID [SERIAL RADIO FIRMWARE]   a plugged device (hex ids)
//   plug ID | unplug ID
//   duty ID PERCENT | airtime ID MICROSECONDS_PER_BYTE | delay ID MS
//   silent ID 0|1 | mute ID 0|1 | reject ID 0|1 | wrong ID COUNT | status-ack ID 0|1
//   unplug-after ID info|duty|frame
//   reports ID      every report received, as hex, space-separated
//   broadcast ID    every frame broadcast, as hex telegrams
//   utilisation ID | clear ID | quit

#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "tools/donglesim/DongleModel.h"
#include "tools/donglesim/Threads.h"
#include "tools/donglesim/standins/SimulatedDevices.h"

namespace {

using quorvel::donglesim::startDetached;
using quorvel::donglesim::startThread;

std::mutex lock;

struct Device {
    std::string id;
    std::string path;
    DongleModel model;
    bool plugged = false;
    HANDLE stop = nullptr;      // manual reset; set while unplugged
    HANDLE listener = nullptr;  // the thread of the last plug-in
};

std::map<std::string, std::shared_ptr<Device>> devices;
std::vector<std::string> order;

std::string hex(const uint8_t* data, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        text += digits[data[i] >> 4];
        text += digits[data[i] & 0x0F];
    }
    return text;
}

HANDLE newDevicePipe(const std::string& path) {
    return CreateNamedPipeA(path.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                            PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                            PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
}

// Waits for an overlapped operation or the device's unplugging. True when
// the operation completed; on unplugging it is cancelled and waited for.
bool await(HANDLE pipe, OVERLAPPED& overlapped, HANDLE stop, DWORD& transferred) {
    const HANDLE handles[2] = {overlapped.hEvent, stop};
    const DWORD which = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    if (which != WAIT_OBJECT_0) {
        CancelIoEx(pipe, &overlapped);
        GetOverlappedResult(pipe, &overlapped, &transferred, TRUE);
        return false;
    }
    return GetOverlappedResult(pipe, &overlapped, &transferred, FALSE) != FALSE;
}

void unplug(Device& device);

// One open handle of the host: reports in, answers out.
void serveConnection(std::shared_ptr<Device> device, HANDLE pipe, HANDLE stop) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    for (;;) {
        uint8_t message[64] = {};
        OVERLAPPED overlapped{};
        overlapped.hEvent = event;
        ResetEvent(event);
        DWORD got = 0;
        if (!ReadFile(pipe, message, sizeof message, nullptr, &overlapped) &&
            GetLastError() != ERROR_IO_PENDING) {
            break;
        }
        if (!await(pipe, overlapped, stop, got)) {
            break;
        }
        ReportBuffer report{};
        std::copy_n(message, std::min<std::size_t>(got, report.size()), report.begin());
        std::vector<ReportBuffer> answers;
        uint32_t delay = 0;
        bool stillPlugged = true;
        {
            const std::lock_guard<std::mutex> hold(lock);
            if (!device->plugged) {
                break;
            }
            device->model.receive(report);
            ReportBuffer answer;
            while (device->model.takeAnswer(answer)) {
                answers.push_back(answer);
            }
            delay = device->model.answerDelay();
            stillPlugged = device->model.plugged();
        }
        if (delay > 0 && WaitForSingleObject(stop, delay) == WAIT_OBJECT_0) {
            break;
        }
        for (const ReportBuffer& answer : answers) {
            OVERLAPPED written{};
            written.hEvent = event;
            ResetEvent(event);
            DWORD put = 0;
            if (!WriteFile(pipe, answer.data(), static_cast<DWORD>(answer.size()), nullptr,
                           &written) &&
                GetLastError() != ERROR_IO_PENDING) {
                break;
            }
            await(pipe, written, stop, put);
        }
        if (!stillPlugged) {
            // The answers reach the host before the device disappears.
            FlushFileBuffers(pipe);
            const std::lock_guard<std::mutex> hold(lock);
            unplug(*device);
            break;
        }
    }
    CloseHandle(event);
    CloseHandle(pipe);
}

// One instance of the device's pipe waiting for a host.
struct Listening {
    HANDLE pipe = INVALID_HANDLE_VALUE;
    HANDLE event = nullptr;  // set when a host has connected
    OVERLAPPED overlapped{};
};

// Puts a new instance up for a host; false when none can be made.
bool listenAnew(Listening& slot, const std::string& path) {
    slot.pipe = newDevicePipe(path);
    if (slot.pipe == INVALID_HANDLE_VALUE) {
        return false;
    }
    for (;;) {
        slot.overlapped = OVERLAPPED{};
        slot.overlapped.hEvent = slot.event;
        ResetEvent(slot.event);
        if (ConnectNamedPipe(slot.pipe, &slot.overlapped)) {
            SetEvent(slot.event);
            return true;
        }
        const DWORD error = GetLastError();
        if (error == ERROR_IO_PENDING) {
            return true;
        }
        if (error == ERROR_PIPE_CONNECTED) {
            SetEvent(slot.event);
            return true;
        }
        if (error != ERROR_NO_DATA) {
            CloseHandle(slot.pipe);
            slot.pipe = INVALID_HANDLE_VALUE;
            return false;
        }
        // A host that opened and closed the device before the instance was
        // put up (reading its attributes, say): free it and wait again.
        DisconnectNamedPipe(slot.pipe);
    }
}

// Keeps several instances waiting, so that a host never finds the device
// busy while the instances it just used are handed to their connections:
// the agent and quorvel-check open a handle for the search and another for
// each conversation, in quick succession, and a real HID device takes any
// number of handles.
constexpr std::size_t kWaitingInstances = 4;

void listenForHost(std::shared_ptr<Device> device, HANDLE stop) {
    std::array<Listening, kWaitingInstances> slots;
    std::array<HANDLE, kWaitingInstances + 1> handles{};
    for (std::size_t i = 0; i < slots.size(); ++i) {
        slots[i].event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        listenAnew(slots[i], device->path);
        handles[i] = slots[i].event;
    }
    handles[kWaitingInstances] = stop;
    for (;;) {
        const DWORD which = WaitForMultipleObjects(static_cast<DWORD>(handles.size()),
                                                   handles.data(), FALSE, INFINITE);
        if (which >= WAIT_OBJECT_0 + kWaitingInstances) {
            break;  // unplugged
        }
        Listening& slot = slots[which - WAIT_OBJECT_0];
        if (slot.pipe == INVALID_HANDLE_VALUE) {
            ResetEvent(slot.event);
            continue;
        }
        const HANDLE pipe = slot.pipe;
        startDetached([device, pipe, stop] { serveConnection(device, pipe, stop); });
        if (!listenAnew(slot, device->path)) {
            ResetEvent(slot.event);
        }
    }
    for (Listening& slot : slots) {
        if (slot.pipe != INVALID_HANDLE_VALUE) {
            DWORD ignored = 0;
            CancelIoEx(slot.pipe, &slot.overlapped);
            GetOverlappedResult(slot.pipe, &slot.overlapped, &ignored, TRUE);
            CloseHandle(slot.pipe);
        }
        CloseHandle(slot.event);
    }
}

void plug(const std::shared_ptr<Device>& device) {
    if (device->plugged) {
        return;
    }
    if (device->listener != nullptr) {
        WaitForSingleObject(device->listener, INFINITE);
        CloseHandle(device->listener);
    }
    if (device->stop != nullptr) {
        CloseHandle(device->stop);  // connections of the last plug-in have their own copy
    }
    device->stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE stopCopy = nullptr;
    DuplicateHandle(GetCurrentProcess(), device->stop, GetCurrentProcess(), &stopCopy, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    device->model.plug();
    device->plugged = true;
    device->listener = startThread([device, stopCopy] { listenForHost(device, stopCopy); });
}

void unplug(Device& device) {
    if (!device.plugged) {
        return;
    }
    device.plugged = false;
    device.model.unplug();
    SetEvent(device.stop);
}

// The directory: each connection gets the plugged devices' paths.
void serveDirectory() {
    auto create = [] {
        return CreateNamedPipeA(QUORVEL_SIM_DIRECTORY_PIPE, PIPE_ACCESS_OUTBOUND,
                                PIPE_TYPE_MESSAGE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES, 4096, 4096,
                                0, nullptr);
    };
    HANDLE next = create();
    while (next != INVALID_HANDLE_VALUE) {
        HANDLE current = next;
        if (!ConnectNamedPipe(current, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) {
            CloseHandle(current);
            next = create();
            continue;
        }
        next = create();
        std::string listing;
        {
            const std::lock_guard<std::mutex> hold(lock);
            for (const std::string& id : order) {
                if (devices[id]->plugged) {
                    listing += devices[id]->path + "\n";
                }
            }
        }
        DWORD put = 0;
        WriteFile(current, listing.data(), static_cast<DWORD>(listing.size()), &put, nullptr);
        FlushFileBuffers(current);
        CloseHandle(current);
    }
}

bool flag(const std::string& value) {
    return value == "1" || value == "on";
}

std::string command(const std::string& line) {
    std::istringstream in(line);
    std::string verb, id;
    in >> verb >> id;
    if (verb == "quit") {
        return "ok";
    }
    const std::lock_guard<std::mutex> hold(lock);
    if (verb == "add") {
        std::string vid, pid, serial, radio, firmware;
        in >> vid >> pid >> serial >> radio >> firmware;
        if (id.empty() || vid.empty() || pid.empty() || devices.count(id) != 0) {
            return "error add needs a new ID, VID and PID";
        }
        auto device = std::make_shared<Device>();
        device->id = id;
        device->path =
            std::string(QUORVEL_SIM_DEVICE_PIPE_PREFIX) + "vid_" + vid + "&pid_" + pid + "#" + id;
        DongleModel::Identity identity;
        if (!serial.empty()) {
            identity.serialNumber = serial;
        }
        if (!radio.empty()) {
            identity.radioAddress = static_cast<uint16_t>(std::stoul(radio, nullptr, 16));
        }
        if (!firmware.empty()) {
            identity.firmwareVersion = static_cast<uint16_t>(std::stoul(firmware));
        }
        device->model.setIdentity(identity);
        devices[id] = device;
        order.push_back(id);
        plug(device);
        return "ok " + device->path;
    }
    const auto found = devices.find(id);
    if (found == devices.end()) {
        return "error no device " + id;
    }
    Device& device = *found->second;
    DongleModel& model = device.model;
    std::string value;
    in >> value;
    try {
        if (verb == "plug") {
            plug(found->second);
        } else if (verb == "unplug") {
            unplug(device);
        } else if (verb == "duty") {
            model.setBaseUtilisation(static_cast<uint8_t>(std::stoul(value)));
        } else if (verb == "airtime") {
            model.setAirtimePerByte(static_cast<uint32_t>(std::stoul(value)));
        } else if (verb == "delay") {
            model.setAnswerDelay(static_cast<uint32_t>(std::stoul(value)));
        } else if (verb == "silent") {
            model.setSilent(flag(value));
        } else if (verb == "mute") {
            model.setAcknowledgementsMuted(flag(value));
        } else if (verb == "reject") {
            model.setRejectFrames(flag(value));
        } else if (verb == "wrong") {
            model.setWrongAnswersBeforeEach(std::stoi(value));
        } else if (verb == "status-ack") {
            model.setStatusStyleAcknowledgement(flag(value));
        } else if (verb == "unplug-after") {
            model.unplugAfter(value == "info"    ? DongleModel::Request::DeviceInformation
                              : value == "duty"  ? DongleModel::Request::DutyCycle
                              : value == "frame" ? DongleModel::Request::Frame
                                                 : DongleModel::Request::Unknown);
        } else if (verb == "reports") {
            std::string text = "ok " + std::to_string(model.received().size());
            for (const ReportBuffer& report : model.received()) {
                text += " " + hex(report.data(), report.size());
            }
            return text;
        } else if (verb == "broadcast") {
            std::string text = "ok " + std::to_string(model.broadcast().size());
            for (const auto& telegram : model.broadcast()) {
                text += " " + hex(telegram.data(), telegram.size());
            }
            return text;
        } else if (verb == "utilisation") {
            return "ok " + std::to_string(model.utilisation());
        } else if (verb == "clear") {
            model.clearHistory();
        } else {
            return "error unknown command " + verb;
        }
    } catch (const std::exception& error) {
        return std::string("error ") + error.what();
    }
    return "ok";
}

// One test at a time; each line in gets one line out.
void serveControl(SOCKET listener) {
    for (;;) {
        const SOCKET client = accept(listener, nullptr, nullptr);
        if (client == INVALID_SOCKET) {
            return;
        }
        std::string pending;
        char chunk[1024];
        int got = 0;
        bool quit = false;
        while (!quit && (got = recv(client, chunk, sizeof chunk, 0)) > 0) {
            pending.append(chunk, static_cast<std::size_t>(got));
            std::size_t end;
            while ((end = pending.find('\n')) != std::string::npos) {
                std::string line = pending.substr(0, end);
                pending.erase(0, end + 1);
                if (!line.empty() && line.back() == '\r') {
                    line.pop_back();
                }
                const std::string answer = command(line) + "\n";
                send(client, answer.data(), static_cast<int>(answer.size()), 0);
                quit = quit || line == "quit";
            }
        }
        closesocket(client);
        if (quit) {
            return;
        }
    }
}

}  // namespace

int main() {
    WSADATA winsock{};
    if (WSAStartup(MAKEWORD(2, 2), &winsock) != 0) {
        std::fprintf(stderr, "donglesim: WSAStartup failed\n");
        return 1;
    }
    const SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    int size = sizeof address;
    if (listener == INVALID_SOCKET ||
        bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 4) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        std::fprintf(stderr, "donglesim: cannot listen, WSAGetLastError=%d\n", WSAGetLastError());
        return 1;
    }
    startDetached(serveDirectory);
    std::printf("port=%u\n", ntohs(address.sin_port));
    std::fflush(stdout);
    serveControl(listener);
    closesocket(listener);
    WSACleanup();
    // Detached server threads may still be blocked in the system; leave at once.
    ExitProcess(0);
}
