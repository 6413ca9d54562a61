// httpprobe: one portal exchange through HTTPClientResource and the real
// WinINet adapter, as the hello makes it. Prints, one per line:
//   log <line>              every log line, CR and LF written as \r and \n
//   event <name> <payload>  every event, in firing order
//   elapsed_ms=<n>          how long the exchange took
//
//   httpprobe --host H --port P --uri U --body TEXT [--secure true]
//             [--proxy HOST:PORT] [--timeout MS] [--interval-on-error MS]

#include <fcntl.h>
#include <io.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "activities/StatusEvents.h"
#include "activities/TransmitEvents.h"
#include "core/Clock.h"
#include "core/EventListeners.h"
#include "core/Log.h"
#include "core/MainWindowCommands.h"
#include "portal/HTTPClientResource.h"
#include "portal/PortalURL.h"
#include "portal/win32/WinInetTransport.h"

namespace {

void printLine(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
}

std::string escaped(const char* text) {
    std::string out;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c == '\r') {
            out += "\\r";
        } else if (*c == '\n') {
            out += "\\n";
        } else if (*c == '\\') {
            out += "\\\\";
        } else {
            out += *c;
        }
    }
    return out;
}

// Stands in for the main window: log lines go to standard output.
class PrintingWindow final : public MainWindowCommands {
  public:
    void appendLogLine(const std::string& line) override { printLine("log " + escaped(line.c_str())); }
    void showLogger() override {}
    void statusChanged() override {}
    void fatalError(const char*) override {}
};

// What each event the portal resource fires carries, as the probe prints it.
std::string payload(const NotifyHTTPStateEvent& event) {
    return std::string("state=") + (event.getState() ? "1" : "0");
}
std::string payload(const StartBrowserEvent& event) {
    return "url=http://" + portalURLText(*event.getPortalURL());
}
std::string payload(const SendFramesEvent& event) {
    std::string text = "frames=";
    const char* separator = "";
    for (const std::string& frame : event.getFrames()) {
        text += separator + frame;
        separator = ",";
    }
    return text;
}
std::string payload(const IntervalEvent& event) {
    return "interval=" + std::to_string(event.getInterval());
}

int usage() {
    std::fputs(
        "usage: httpprobe --host H --port P --uri U --body TEXT [--secure true] "
        "[--proxy HOST:PORT] [--timeout MS] [--interval-on-error MS]\n",
        stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    // Exactly the bytes written, without a CR added before each LF.
    _setmode(_fileno(stdout), _O_BINARY);
    std::string host;
    std::string uri = "/";
    std::string body;
    int port = 80;
    bool secure = false;
    std::optional<std::string> proxy;
    std::optional<uint32_t> timeout;
    int intervalOnError = 30000;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const std::string value = argv[i + 1];
        if (option == "--host") {
            host = value;
        } else if (option == "--port") {
            port = std::atoi(value.c_str());
        } else if (option == "--uri") {
            uri = value;
        } else if (option == "--body") {
            body = value;
        } else if (option == "--secure") {
            secure = value == "true";
        } else if (option == "--proxy") {
            proxy = value;
        } else if (option == "--timeout") {
            timeout = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
        } else if (option == "--interval-on-error") {
            intervalOnError = std::atoi(value.c_str());
        } else {
            return usage();
        }
    }
    if (host.empty() || argc % 2 == 0) {
        return usage();
    }

    PrintingWindow window;
    const SystemClock clock;
    const LogSink sink{window, clock};
    setLogSink(&sink);
    setLoggingEnabled(true);
    WinInetTransport::Timeouts timeouts;
    if (timeout) {
        timeouts.connect = timeouts.send = timeouts.receive = *timeout;
    }
    WinInetTransport transport(timeouts);
    HTTPClientResource resource(transport, clock);
    EventListeners<NotifyHTTPStateEvent, StartBrowserEvent, SendFramesEvent, IntervalEvent> printer(
        [](const auto& event) {
            printLine(std::string("event ") + event.getName() + " " + payload(event));
        });
    printer.listenTo(resource.getActivities());

    const auto begin = std::chrono::steady_clock::now();
    resource.sendRequest(body, host, port, uri, secure, proxy, intervalOnError);
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - begin);
    printLine("elapsed_ms=" + std::to_string(elapsed.count()));
    std::fflush(stdout);
    setLogSink(nullptr);
    return 0;
}
