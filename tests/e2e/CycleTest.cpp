// The hello of the real agent under Wine, as the portal simulator receives
// it. The cycles' logic is the unit tests' to prove (CyclesTest); frames on
// air the fault scenarios show.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "resources/resource.h"
#include "tests/e2e/AgentWithSimulators.h"

namespace quorvel::e2e {
namespace {

namespace fs = std::filesystem;

class Cycle : public AgentWithSimulators {};

// The hello through WinINet. While a hello waits for the portal, Open Portal
// and a second start wait with it (the second copy ends only once the running
// one has taken its command), and both lead to one hello after it. While
// another holder keeps quorvel.lock, as an agent of another session would,
// no hello starts; once it lets go, the hello follows.
TEST_F(Cycle, AHelloReachesThePortalAndOpenPortalFollowsEachRunningHelloOnce) {
    plugDongle();
    const fs::path folder = agentFolder(config());
    startAgentIn(folder);
    ASSERT_TRUE(waitForHellos(1));
    const auto request = portal().requests().front();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/agent/hello.php");
    EXPECT_EQ(request.body, hello(7));
    EXPECT_EQ(request.header("Content-type"), "application/binary");
    EXPECT_EQ(request.header("User-Agent"), "Quorvel");
    ASSERT_TRUE(waitForStored(minuteAhead)) << "no next hello planned from the answer";

    portal().holdAnswers();
    drive({"post", std::to_string(ID_OPEN_PORTAL), "0"});  // as the tray's double-click does
    ASSERT_TRUE(waitForHellos(2, milliseconds(5000))) << "Open Portal did not say hello at once";
    drive({"post", std::to_string(ID_OPEN_PORTAL), "0"});
    WineProcess& second = launch(folder);
    EXPECT_FALSE(waitUntil([&] { return !second.running(); }, milliseconds(2500)))
        << "the second copy ended while the running copy was inside its hello";
    EXPECT_EQ(portal().requests().size(), 2u) << "a hello began inside the hello";
    portal().releaseAnswers();
    EXPECT_EQ(second.waitForExit(kExitTimeout), 0) << "the second copy did not hand over";
    ASSERT_TRUE(waitForHellos(3));
    EXPECT_FALSE(waitForHellos(4, milliseconds(1500))) << "one hello expected after the held one";
    EXPECT_EQ(helloBodies(), (Strings{hello(7), hello(2), hello(2)}));

    // Wine's LockFileEx takes an fcntl lock on the file, so a Linux process's
    // lock on it is another holder to the agent.
    const fs::path lockFile = harness().runTimeFile().parent_path() / "quorvel.lock";
    const int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_GE(fd, 0) << lockFile;
    struct flock whole{};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    ASSERT_EQ(::fcntl(fd, F_SETLK, &whole), 0);
    drive({"post", std::to_string(ID_OPEN_PORTAL), "0"});
    EXPECT_FALSE(waitForHellos(4, milliseconds(3000))) << "a hello while quorvel.lock was held";
    ::close(fd);
    EXPECT_TRUE(waitForHellos(4)) << "no hello once quorvel.lock was let go";
}

}  // namespace
}  // namespace quorvel::e2e
