#pragma once

class Clock;
class ContinueHelloActivity;
class ContinueTransmitActivity;
class FilesystemResource;

// The dongle was plugged in again. Whatever waited only because it was
// missing (frames kept after the dongle could not be opened, a hello
// planned after a failed dongle read) is due at once rather than after the
// error interval; other plans stay as they are.
class DongleArrival {
  public:
    DongleArrival(FilesystemResource& filesystem, const ContinueHelloActivity& continueHello,
                  const ContinueTransmitActivity& continueTransmit, const Clock& clock)
        : filesystem_(filesystem),
          continueHello_(continueHello),
          continueTransmit_(continueTransmit),
          clock_(clock) {}

    void arrived();

  private:
    FilesystemResource& filesystem_;
    const ContinueHelloActivity& continueHello_;
    const ContinueTransmitActivity& continueTransmit_;
    const Clock& clock_;
};
