#include "portal/HTTPClientResource.h"

#include <cstring>
#include <utility>

#include "activities/StatusEvents.h"
#include "activities/TransmitEvents.h"
#include "core/Clock.h"
#include "core/FrameList.h"
#include "core/Log.h"
#include "core/Text.h"
#include "portal/PortalProtocol.h"
#include "portal/PortalURL.h"

namespace {

const char* stepName(HttpStep step) {
    switch (step) {
        case HttpStep::open:
            return "open";
        case HttpStep::connect:
            return "connect";
        case HttpStep::openRequest:
            return "open request";
        case HttpStep::send:
            return "send";
        case HttpStep::read:
            return "read";
        case HttpStep::deadline:
            return "deadline";
        case HttpStep::none:
            break;
    }
    return "none";
}

// The failure text for a step that stopped the exchange.
std::string failureText(const HttpOutcome& outcome) {
    switch (outcome.failedStep) {
        case HttpStep::open:
            return "InternetOpen";
        case HttpStep::connect:
            return "InternetConnect";
        case HttpStep::openRequest:
            // A request handle that could not be opened makes the send fail.
            return "HttpSendRequest";
        case HttpStep::send:
            return outcome.systemError == internetCannotConnect
                       ? "The attempt to connect to the server failed."
                       : "HttpSendRequest";
        case HttpStep::read:
            // A broken answer is no answer: parsing its first half could
            // take a cut-off "I" value for the whole one.
            return "InternetReadFile";
        case HttpStep::deadline:
            return "no answer within the deadline";
        case HttpStep::none:
            break;
    }
    return "";
}

}  // namespace

HTTPClientResource::HTTPClientResource(HttpTransport& transport, const Clock& clock)
    : transport_(transport), clock_(clock) {}

void HTTPClientResource::sendRequest(const std::string& message, const std::string& host,
                                     int32_t port, const std::string& uri, bool secure,
                                     const std::optional<std::string>& proxy,
                                     int32_t intervalWithoutAnswer) {
    log("- message to portal:\r\n" + message + " host: " + host + " port: " + decimalText(port) +
        " uri: " + uri + (secure ? " (https)" : ""));
    log("-------- [HTTPClientResource::sendRequest] --------");
    std::string answer;
    try {
        answer = postRequest(host, port, uri, secure, proxy, message);
    } catch (const HttpExchangeError& error) {
        log("Exception! http connection error: ", error.what());
        NotifyHTTPStateEvent unreached(false);
        getActivities().fire(&unreached);
        return;
    }
    log("message from portal:\r\n", answer);
    NotifyHTTPStateEvent reached(true);
    getActivities().fire(&reached);
    parseAnswer(answer, intervalWithoutAnswer);
}

std::string HTTPClientResource::postRequest(const std::string& host, int32_t port,
                                            const std::string& uri, bool secure,
                                            const std::optional<std::string>& proxy,
                                            const std::string& message) {
    // Cutting a port to 16 bits would quietly talk to some other service.
    if (port < 0 || port > 65535) {
        log("[HTTPClientResource::postRequest] port out of range: ", int64_t{port});
        throw HttpExchangeError("InternetConnect");
    }
    HttpRequest request;
    request.host = host;
    request.port = static_cast<uint16_t>(port);
    request.uri = uri;
    request.secure = secure;
    request.proxy = proxy.value_or(std::string());
    request.body = message;

    // The deadline covers the whole exchange, connecting and sending too; an
    // answer not complete by then is no answer, however much of it came.
    const uint32_t limit = transport_.exchangeDeadlineMilliseconds();
    const int64_t deadline = clock_.processMilliseconds() + limit;
    std::string answer;
    answer.reserve(4096);
    bool cut = false;
    std::size_t received = 0;
    const HttpOutcome outcome =
        transport_.post(request, [&answer, &cut, &received](const char* data, std::size_t size) {
            received += size;
            if (cut) {
                return received < maximumReadLength;
            }
            // Each piece counts as text up to its first zero byte.
            const void* zero = std::memchr(data, 0, size);
            const std::size_t length =
                zero != nullptr ? static_cast<std::size_t>(static_cast<const char*>(zero) - data)
                                : size;
            const std::size_t room = maximumAnswerLength - answer.size();
            if (length > room) {
                cut = true;
            }
            answer.append(data, length < room ? length : room);
            return received < maximumReadLength;
        });
    // Whatever the last step said: the transport ends a late exchange by
    // closing its handles, which makes the call under way fail with an
    // error of its own.
    if (outcome.failedStep == HttpStep::deadline || clock_.processMilliseconds() >= deadline) {
        log("[HTTPClientResource::postRequest] exchange not finished within its deadline [ms]: ",
            int64_t{limit});
        throw HttpExchangeError(failureText(HttpOutcome{HttpStep::deadline, 0}));
    }
    if (outcome.failedStep != HttpStep::none) {
        log(std::string("[HTTPClientResource::postRequest] ") + stepName(outcome.failedStep) +
                " failed, system error ",
            int64_t{outcome.systemError});
        throw HttpExchangeError(failureText(outcome));
    }
    if (cut) {
        log("[HTTPClientResource::postRequest] answer cut at characters: ",
            static_cast<int64_t>(maximumAnswerLength));
    }
    if (answer.empty()) {
        throw HttpExchangeError("content is empty");
    }
    return answer;
}

void HTTPClientResource::parseAnswer(const std::string& answer, int32_t intervalWithoutAnswer) {
    std::optional<std::string> strI;
    FrameList usbMessages;
    // An error page is hundreds of lines that are no command; logging each
    // would bury the log and, with the log window open, hold the agent for
    // seconds. The first few say enough.
    int skippedLines = 0;
    const auto skipped = [&skippedLines](const std::string& why, const std::string& line) {
        if (++skippedLines <= maximumSkippedLinesLogged) {
            log(why, line);
        }
    };
    bool pageOpened = false;
    for (const std::string& str : splitTokens(answer, "\r\n")) {
        switch (str[0]) {
            case 'B': {
                // Every page is a browser window; an answer of many would
                // bury the user's desktop.
                if (pageOpened) {
                    skipped(
                        "[HTTPClientResource::parseAnswer] browser command ignored, a page "
                        "was opened already: ",
                        str);
                    break;
                }
                std::string refusal;
                const std::optional<PortalURL> url = readBrowserCommand(str.substr(1), refusal);
                if (!url) {
                    skipped("[HTTPClientResource::parseAnswer] browser command refused, " +
                                refusal + ": ",
                            str);
                    break;
                }
                pageOpened = true;
                StartBrowserEvent browser(&*url);
                getActivities().fire(&browser);
                break;
            }
            case 'I':
                // An error page's "Internal Server Error" is no interval; read
                // as 0 it would call the portal again at once, for ever.
                if (!startsWithInteger(str.substr(1))) {
                    skipped("unknown command: ", str);
                    break;
                }
                strI = str;
                break;
            case 'S':
                usbMessages.push_back(removeWhitespace(str));
                break;
            default:
                skipped("unknown command: ", str);
                break;
        }
    }
    if (skippedLines > maximumSkippedLinesLogged) {
        log("[HTTPClientResource::parseAnswer] more lines skipped, not logged: ",
            int64_t{skippedLines - maximumSkippedLinesLogged});
    }
    if (!usbMessages.empty()) {
        SendFramesEvent frames(std::move(usbMessages));
        getActivities().fire(&frames);
    }
    int32_t interval = intervalWithoutAnswer;
    if (strI) {
        interval = readInteger(strI->substr(1));
    } else {
        log("[HTTPClientResource::parseAnswer] no interval in the answer, next hello in[ms]: ",
            int64_t{interval});
    }
    IntervalEvent next(interval);
    getActivities().fire(&next);
}
