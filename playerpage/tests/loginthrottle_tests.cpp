// The login's throttle on a clock the test sets: how the delay grows, what
// ends it, and that its memory stays bounded whatever the clients.

#include "loginthrottle.h"

#include <gtest/gtest.h>

using player::LoginThrottle;
using namespace std::chrono_literals;

TEST(LoginThrottle, wrongPasswordsWaitLongerEachTimeUntilTheLimitAndARightOneForgets)
{
    const LoginThrottle::Clock::time_point start {};
    struct Step
    {
        enum { Wrong, Right, Look } what;
        const char *client;
        std::chrono::milliseconds at; // since start
        std::chrono::milliseconds expected; // the delay (Wrong) or the wait (Look)
    };
    const Step steps[] = {
        {Step::Look, "a", 0ms, 0ms},
        {Step::Wrong, "a", 0ms, 1000ms},
        {Step::Look, "a", 400ms, 600ms},
        {Step::Look, "b", 400ms, 0ms}, // another client is not held up
        {Step::Look, "a", 1000ms, 0ms},
        {Step::Wrong, "a", 1000ms, 2000ms},
        {Step::Wrong, "a", 3000ms, 4000ms},
        {Step::Wrong, "a", 7000ms, 8000ms},
        {Step::Wrong, "a", 15000ms, 16000ms},
        {Step::Wrong, "a", 31000ms, 30000ms}, // the limit
        {Step::Wrong, "a", 61000ms, 30000ms},
        {Step::Right, "a", 91000ms, 0ms},
        {Step::Wrong, "a", 91000ms, 1000ms}, // starts again
        {Step::Wrong, "a", 92000ms, 2000ms},
        {Step::Wrong, "a", 92000ms + 15min, 1000ms}, // long after: forgotten
    };
    LoginThrottle throttle;
    for (const Step &step : steps) {
        SCOPED_TRACE(std::string(step.client) + " at " + std::to_string(step.at.count()) + " ms");
        const auto now = start + step.at;
        switch (step.what) {
        case Step::Wrong:
            EXPECT_EQ(throttle.failed(step.client, now), step.expected);
            EXPECT_EQ(throttle.waitFor(step.client, now), step.expected);
            break;
        case Step::Right:
            throttle.succeeded(step.client);
            EXPECT_EQ(throttle.waitFor(step.client, now), 0ms);
            break;
        case Step::Look:
            EXPECT_EQ(throttle.waitFor(step.client, now), step.expected);
            break;
        }
    }
}

TEST(LoginThrottle, holdsAtMostItsLimitOfClientsAndTheNewestStayHeld)
{
    LoginThrottle throttle;
    const LoginThrottle::Clock::time_point start {};
    const int clients = int(LoginThrottle::MaxClients) + 100;
    for (int i = 0; i < clients; ++i)
        throttle.failed("10.0.0." + std::to_string(i), start + std::chrono::milliseconds(i));
    EXPECT_EQ(throttle.clientCount(), LoginThrottle::MaxClients);
    const auto now = start + std::chrono::milliseconds(clients);
    EXPECT_GT(throttle.waitFor("10.0.0." + std::to_string(clients - 1), now), 0ms);
    EXPECT_EQ(throttle.waitFor("10.0.0.0", now), 0ms) << "the one held longest made room";
}
