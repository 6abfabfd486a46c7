/* The event object handed to dialogs: auto-reset wake-ups and the flags
 * that tell the waiter why it was woken. */
#include <gtest/gtest.h>

#include <thread>

#include <qorb/qorb.h>

namespace {

constexpr uint32_t kLongWaitMs = 20000; /* bounds a broken wake-up; never reached when it works */

TEST(GuiEvent, NewEventIsNotSignalled)
{
    CQORBGuiEvent event;
    EXPECT_EQ(event.Poll(), 0);
    EXPECT_EQ(event.Wait(0), QORB_EVENT_TIMEOUT);
    EXPECT_EQ(event.Wait(5), QORB_EVENT_TIMEOUT);
}

TEST(GuiEvent, SetFromAnotherThreadWakesAWait)
{
    CQORBGuiEvent event;
    std::thread setter([&] { EXPECT_EQ(event.Set(), QORB_SUCCESS); });
    EXPECT_EQ(event.Wait(kLongWaitMs), QORB_SUCCESS);
    setter.join();
    /* Auto-reset: the wake-up was consumed. */
    EXPECT_EQ(event.Wait(0), QORB_EVENT_TIMEOUT);
}

TEST(GuiEvent, FlagsSetBeforeTheSignalAreSeenByTheWaiter)
{
    CQORBGuiEvent event;
    std::thread setter([&] {
        event.SetSecondFlag();
        event.Set();
    });
    EXPECT_EQ(event.Wait(kLongWaitMs), QORB_EVENT_FLAG2_SET);
    setter.join();

    std::thread again([&] {
        event.SetFirstFlag();
        event.Set();
    });
    EXPECT_EQ(event.Wait(kLongWaitMs), QORB_EVENT_FLAG1_SET); /* the first flag wins over the second */
    again.join();

    /* Nothing clears the flags: every later wake-up reports the first. */
    event.Set();
    EXPECT_EQ(event.Wait(0), QORB_EVENT_FLAG1_SET);
}

TEST(GuiEvent, FlagsWithoutASignalStillTimeOut)
{
    CQORBGuiEvent event;
    event.SetFirstFlag();
    event.SetSecondFlag();
    EXPECT_EQ(event.Wait(1), QORB_EVENT_TIMEOUT);
    EXPECT_EQ(event.Poll(), 0);
}

TEST(GuiEvent, PollConsumesTheSignal)
{
    CQORBGuiEvent event;
    ASSERT_EQ(event.Set(), QORB_SUCCESS);
    EXPECT_EQ(event.Set(), QORB_SUCCESS); /* setting twice still wakes once */
    EXPECT_EQ(event.Poll(), 1);
    EXPECT_EQ(event.Poll(), 0);
    EXPECT_EQ(event.Wait(0), QORB_EVENT_TIMEOUT);
}

TEST(GuiEvent, ResetWithdrawsAPendingSignal)
{
    CQORBGuiEvent event;
    ASSERT_EQ(event.Set(), QORB_SUCCESS);
    EXPECT_EQ(event.Reset(), QORB_SUCCESS);
    EXPECT_EQ(event.Poll(), 0);
    EXPECT_EQ(event.Reset(), QORB_SUCCESS); /* resetting a clear event is fine */
    ASSERT_EQ(event.Set(), QORB_SUCCESS);
    EXPECT_EQ(event.Wait(0), QORB_SUCCESS);
}

TEST(GuiEvent, ManyWakeUpsFromAnotherThreadAreEachSeen)
{
    CQORBGuiEvent ping, pong;
    constexpr int kRounds = 50;
    std::thread peer([&] {
        for (int i = 0; i < kRounds; ++i) {
            if (ping.Wait(kLongWaitMs) != QORB_SUCCESS)
                return;
            pong.Set();
        }
    });
    int answered = 0;
    for (int i = 0; i < kRounds; ++i) {
        ping.Set();
        if (pong.Wait(kLongWaitMs) == QORB_SUCCESS)
            ++answered;
    }
    peer.join();
    EXPECT_EQ(answered, kRounds);
}

} // namespace
