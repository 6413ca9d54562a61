// The simulated dongle that the unit tests and the Wine simulator share.

#include <gtest/gtest.h>

#include "dongle/ReportProtocol.h"
#include "tools/donglesim/DongleModel.h"

namespace {

const ReportBuffer frame = [] {
    ReportBuffer report{};
    dongle::buildFrameReport("S020B112233445566", report, 0x10, 0x80);
    return report;
}();

ReportBuffer only(DongleModel& model) {
    ReportBuffer answer{};
    EXPECT_TRUE(model.takeAnswer(answer));
    EXPECT_EQ(model.pendingAnswers(), 0u);
    return answer;
}

TEST(DongleModel, AnswersItsIdentityAndAUtilisationThatGrowsWithAirtime) {
    DongleModel model({"SN-0000007", 0x1234, 4711});
    EXPECT_EQ(model.receive(dongle::deviceInformationRequest()),
              DongleModel::Request::DeviceInformation);
    const dongle::DeviceInformation info = dongle::parseDeviceInformation(only(model));
    EXPECT_EQ(info.serialNumber + " " + info.radioAddress + " " + info.firmwareVersion,
              "SN-0000007 1234 4711");

    model.setBaseUtilisation(40);
    model.setAirtimePerByte(360000);  // 0.36 s a byte: 1 % per byte of airtime
    model.receive(dongle::dutyCycleRequest());
    EXPECT_EQ(only(model)[4], 40);
    model.receive(frame);  // n = 8, plus 8 bytes of overhead
    EXPECT_TRUE(dongle::isAcknowledgement(only(model)));
    model.receive(dongle::dutyCycleRequest());
    const ReportBuffer duty = only(model);
    EXPECT_EQ(duty[2], dongle::dutyCycleAnswer);
    EXPECT_EQ(duty[4], 56);
    EXPECT_EQ(model.broadcast(),
              (std::vector<std::vector<uint8_t>>{{0x02, 0x11, 0x22, 0x93, 0x44, 0x55, 0x66}}));
    EXPECT_EQ(model.received().size(), 4u);
}

TEST(DongleModel, AcknowledgementFormsAndAWrongChecksum) {
    DongleModel statusStyle;
    statusStyle.setStatusStyleAcknowledgement(true);
    statusStyle.receive(frame);
    const ReportBuffer ack = only(statusStyle);
    EXPECT_EQ(ack[2], dongle::statusAnswer);
    EXPECT_TRUE(dongle::isAcknowledgement(ack));

    DongleModel model;
    ReportBuffer corrupt = frame;
    corrupt[10] ^= 0x01;
    model.receive(corrupt);
    const ReportBuffer refusal = only(model);
    EXPECT_EQ(refusal[2], dongle::frameAnswer);
    EXPECT_EQ(refusal[4], 0x00);
    EXPECT_TRUE(model.broadcast().empty());
}

}  // namespace
