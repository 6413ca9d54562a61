#include "activities/DongleArrival.h"

#include "activities/HelloActivities.h"
#include "activities/TransmitActivities.h"
#include "core/Clock.h"
#include "core/Log.h"
#include "storage/FilesystemResource.h"

void DongleArrival::arrived() {
    if (continueTransmit_.transmitWaitsForDongle()) {
        log("[DongleArrival::arrived] dongle is back, sending the stored frames now");
        filesystem_.setNextTransmitTime(clock_.now());
    }
    if (continueHello_.helloWaitsForDongle()) {
        log("[DongleArrival::arrived] dongle is back, saying hello now");
        filesystem_.setNextHelloTime(clock_.now());
    }
}
