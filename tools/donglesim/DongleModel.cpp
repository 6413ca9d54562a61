#include "tools/donglesim/DongleModel.h"

#include <algorithm>

#include "dongle/ReportProtocol.h"

namespace {

// 1 % of an hour, the allowance a duty-cycle limited channel grants.
constexpr uint64_t allowanceUs = 36ull * 1000 * 1000;
// Preamble, sync word and length the radio adds to every telegram.
constexpr uint32_t radioOverheadBytes = 8;

ReportBuffer inputReport(uint8_t code) {
    ReportBuffer report{};
    report[0] = 0x02;
    report[1] = 0x10;
    report[2] = code;
    report[3] = 0xFF;
    return report;
}

}  // namespace

DongleModel::DongleModel() : DongleModel(Identity()) {}

DongleModel::DongleModel(Identity identity) : identity_(std::move(identity)) {}

DongleModel::Request DongleModel::classify(const ReportBuffer& report) {
    if (report[0] != 0x01 || report[3] != 0xFF) {
        return Request::Unknown;
    }
    if (report[1] == 0x03 && report[2] == 0x00) {
        return Request::DeviceInformation;
    }
    if (report[1] == 0x03 && report[2] == 0x01) {
        return Request::DutyCycle;
    }
    return report[1] >= 3 ? Request::Frame : Request::Unknown;
}

uint8_t DongleModel::utilisation() const {
    const uint64_t percent = baseUtilisation_ + airtimeUs_ * 100 / allowanceUs;
    return static_cast<uint8_t>(std::min<uint64_t>(percent, 255));
}

bool DongleModel::acceptFrame(const ReportBuffer& report) {
    const std::size_t n = static_cast<std::size_t>(report[1]) - 1;
    if (n + 2 >= report.size() || n < 2) {
        return false;
    }
    if (dongle::crc8_register(report.data() + 4, n - 2) != report[n + 2]) {
        return false;
    }
    std::vector<uint8_t> telegram{report[2]};
    telegram.insert(telegram.end(), report.begin() + 4, report.begin() + 2 + static_cast<long>(n));
    broadcast_.push_back(telegram);
    airtimeUs_ += static_cast<uint64_t>(n + radioOverheadBytes) * airtimePerByteUs_;
    return true;
}

void DongleModel::answer(const ReportBuffer& report) {
    for (int i = 0; i < wrongAnswers_; ++i) {
        ReportBuffer noise = inputReport(0x8F);
        noise[4] = 0x01;
        answers_.push_back(noise);
    }
    answers_.push_back(report);
}

DongleModel::Request DongleModel::receive(const ReportBuffer& report) {
    if (!plugged_) {
        return Request::Unknown;
    }
    received_.push_back(report);
    const Request request = classify(report);
    switch (request) {
        case Request::DeviceInformation: {
            ReportBuffer info = inputReport(dongle::deviceInformationAnswer);
            const std::string& serial = identity_.serialNumber;
            std::copy_n(serial.begin(), std::min<std::size_t>(serial.size(), 10), info.begin() + 4);
            info[14] = static_cast<uint8_t>(identity_.radioAddress >> 8);
            info[15] = static_cast<uint8_t>(identity_.radioAddress & 0xFF);
            info[16] = static_cast<uint8_t>(identity_.firmwareVersion >> 8);
            info[17] = static_cast<uint8_t>(identity_.firmwareVersion & 0xFF);
            if (!silent_) {
                answer(info);
            }
            break;
        }
        case Request::DutyCycle: {
            ReportBuffer duty = inputReport(dongle::dutyCycleAnswer);
            duty[4] = utilisation();
            if (!silent_) {
                answer(duty);
            }
            break;
        }
        case Request::Frame: {
            const bool good = acceptFrame(report) && !rejectFrames_;
            ReportBuffer ack =
                inputReport(statusStyleAck_ ? dongle::statusAnswer : dongle::frameAnswer);
            ack[4] = statusStyleAck_ ? (good ? 0x00 : 0x01) : (good ? 0x01 : 0x00);
            if (!silent_ && !muted_) {
                answer(ack);
            }
            break;
        }
        case Request::Unknown:
            break;
    }
    if (request == unplugAfter_ && request != Request::Unknown) {
        // Unplugged as the answer leaves: the answer still reaches the host.
        plugged_ = false;
        unplugAfter_ = Request::Unknown;
    }
    return request;
}

bool DongleModel::takeAnswer(ReportBuffer& answer) {
    if (answers_.empty()) {
        return false;
    }
    answer = answers_.front();
    answers_.pop_front();
    return true;
}
