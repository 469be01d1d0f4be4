#include "platform/thread/Event.h"

#include <gtest/gtest.h>

#include <array>
#include <thread>

#include "platform/clock/Clock.h"

namespace platform {
namespace {

TEST(Event, AutoResetIsConsumedByTheWaitThatSeesIt) {
    Event e(Event::Mode::AutoReset);
    e.Set();
    e.Set();  // a second set of a set event does not queue a second signal
    EXPECT_TRUE(e.Wait(0));
    EXPECT_FALSE(e.Wait(0));
}

TEST(Event, ManualResetStaysSetUntilReset) {
    Event e(Event::Mode::ManualReset, true);
    EXPECT_TRUE(e.Wait(0));
    EXPECT_TRUE(e.Wait(0));
    e.Reset();
    EXPECT_FALSE(e.Wait(0));
}

TEST(Event, WaitAnyPrefersTheLowestIndex) {
    Event a, b(Event::Mode::ManualReset), c;
    b.Set();
    c.Set();
    std::array<Event*, 3> events{&a, &b, &c};
    EXPECT_EQ(WaitAny(events, 0), 1);
    EXPECT_EQ(WaitAny(events, 0), 1) << "a manual-reset event stays set";
    b.Reset();
    EXPECT_EQ(WaitAny(events, 0), 2);
    EXPECT_EQ(WaitAny(events, 0), kWaitTimeout);
}

TEST(Event, WaitAnyTimesOutAndWakesFromAnotherThread) {
    Event work, stop;
    std::array<Event*, 2> events{&work, &stop};
    const auto start = MonotonicMs();
    EXPECT_EQ(WaitAny(events, 30), kWaitTimeout);
    EXPECT_GE(MonotonicMs() - start, 29u);

    std::thread setter([&] {
        SleepMs(20);
        stop.Set();
    });
    EXPECT_EQ(WaitAny(events, 5000), 1);
    setter.join();
}

TEST(Event, OneSignalWakesOneOfTwoAutoResetWaiters) {
    Event e;
    std::atomic<int> woken{0};
    auto waiter = [&] {
        if (e.Wait(200)) {
            ++woken;
        }
    };
    std::thread t1(waiter), t2(waiter);
    SleepMs(20);
    e.Set();
    t1.join();
    t2.join();
    EXPECT_EQ(woken.load(), 1);
}

}  // namespace
}  // namespace platform
