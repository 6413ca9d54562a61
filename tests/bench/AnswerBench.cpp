// The hello cycle as start-up wires it (WiredAgent, logging off) with the
// longest answer the agent keeps (64,999 characters: an interval and 970
// frames, 155 of which fill the stored frame field) against "I600000",
// alternated: the difference is parsing, storing and planning it.
//
//   quorvel_answer_bench [ROUNDS]    prints key=value lines

#include <chrono>
#include <cstdio>
#include <string>

#include "core/Log.h"
#include "portal/PortalProtocol.h"
#include "storage/RunTimeData.h"
#include "tests/unit/support/WiredAgent.h"

namespace {

std::string longestAnswer() {
    std::string answer = "I600000\r\n";
    const std::string frame = "S020B" + std::string(60, '3') + "\r\n";
    while (answer.size() + frame.size() <= maximumAnswerLength) {
        answer += frame;
    }
    return answer;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::stoi(argv[1]) : 300;
    std::string ini = WiredAgent::configuration();
    ini.replace(ini.find("ENABLE_LOGGING=true"), 19, "ENABLE_LOGGING=false");
    WiredAgent agent;
    agent.start(ini);
    const std::string longest = longestAnswer();
    const std::string shortest = "I600000";
    double longUs = 0;
    double shortUs = 0;
    bool allRan = true;
    for (int round = 0; round <= rounds; ++round) {
        for (const std::string* answer : {&longest, &shortest}) {
            agent.portal.chunks = {*answer};
            const auto begin = std::chrono::steady_clock::now();
            allRan = agent.expireHello() && allRan;
            const double us =
                std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - begin)
                    .count();
            if (round > 0) {  // the first round warms up
                (answer == &longest ? longUs : shortUs) += us;
            }
        }
        agent.portal.requests.clear();
    }
    agent.portal.chunks = {longest};
    agent.expireHello();
    const std::size_t stored = framesOf(agent.stored().frames).size();
    std::printf("answer_chars=%zu\nframes_stored=%zu\nrounds=%d\n", longest.size(), stored, rounds);
    std::printf("long_cycle_us=%.1f\nshort_cycle_us=%.1f\nparse_store_plan_us=%.1f\n",
                longUs / rounds, shortUs / rounds, (longUs - shortUs) / rounds);
    return allRan && stored == 155 && longest.size() == maximumAnswerLength ? 0 : 1;
}
