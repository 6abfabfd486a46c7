/* User input objects, the table of the open one, and the event handed to dialogs. */
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <qorb/qorb.h>

namespace {

using ::testing::Return;
using Status = _QORB_STATUS_t;
using Text = std::string*;

class MockUserInput : public CQORBUserInput {
public:
    MOCK_METHOD(Status, GetSelectionFromList, (Text, std::vector<std::string>*, uint32_t*, uint32_t, int), (override));
    MOCK_METHOD(Status, Reserved, (uint32_t, uint32_t, uint32_t, uint32_t, uint32_t), (override));
    MOCK_METHOD(Status, DisplayInfoToUser, (Text, uint32_t, int, CQORBGuiEvent*, int, Text), (override));
    MOCK_METHOD(Status, GetBooleanDecision, (Text, Text, Text, int*, uint32_t, CQORBGuiEvent*, int), (override));
    MOCK_METHOD(Status, GetInteger, (Text, Text, uint32_t*, int, uint32_t, int, uint32_t, uint32_t), (override));
    MOCK_METHOD(Status, GetString, (Text, Text, Text, uint32_t, int), (override));
    MOCK_METHOD(Status, TerminateDialog, (), (override));
};

struct Args {
    std::string a = "a", b = "b", c = "c";
    std::vector<std::string> list{"x"};
    uint32_t u = 7;
    int i = 9;
    CQORBGuiEvent e;
    /* Every dialog on handle h, each argument with a value of its own. */
    std::vector<Status> Dialogs(void* h) {
        return std::vector<Status>({GetSelectionFromList(h, &a, &list, &u, 41, 42),
            DisplayInfoToUser(h, &a, 2, &e, 4, 5, &b), GetBooleanDecision(h, &a, &b, &c, &i, 51, &e, 52),
            GetInteger(h, &a, &b, &u, 4, 5, 6, 7, 8), GetString(h, &a, &b, &c, 61, 62), TerminateDialog(h)});
    }
};

/* Each dialog reaches its operation with the arguments in the operation's order and answers its
 * answer; a null handle is refused. The input flag and a copy of the header stay on the object. */
TEST(Dialogs, ArgumentsReachTheOperationInItsOwnOrder) {
    ::testing::StrictMock<MockUserInput> ui;
    Args x;
    const auto answer = static_cast<Status>(0x8000001Du);
    EXPECT_CALL(ui, GetSelectionFromList(&x.a, &x.list, &x.u, 41u, 42)).WillOnce(Return(answer));
    EXPECT_CALL(ui, DisplayInfoToUser(&x.a, 4u, 2, &x.e, 5, &x.b)).WillOnce(Return(answer)); /* time-out second */
    EXPECT_CALL(ui, GetBooleanDecision(&x.a, &x.b, &x.c, &x.i, 51u, &x.e, 52)).WillOnce(Return(answer));
    EXPECT_CALL(ui, GetInteger(&x.a, &x.b, &x.u, 4, 7u, 8, 5u, 6u)).WillOnce(Return(answer)); /* default, base first */
    EXPECT_CALL(ui, GetString(&x.a, &x.b, &x.c, 61u, 62)).WillOnce(Return(answer));
    EXPECT_CALL(ui, TerminateDialog()).WillOnce(Return(answer));
    EXPECT_EQ(x.Dialogs(&ui), std::vector<Status>(6, answer));
    EXPECT_EQ(x.Dialogs(nullptr), std::vector<Status>(6, QORB_INVALID_PARAMETER));
    EXPECT_EQ((std::vector{EnableInput(nullptr), DisableInput(nullptr), SetDialogHeader(nullptr, x.a)}),
        std::vector<Status>(3, QORB_INVALID_PARAMETER));
    EXPECT_EQ((std::vector{IsInputDisabled(nullptr), IsInputDisabled(&ui)}), (std::vector{0, 0}));
    for (auto [call, flag] : {std::pair(&EnableInput, 1), std::pair(&EnableInput, 1), std::pair(&DisableInput, 0)})
        EXPECT_EQ((std::pair{call(&ui), IsInputDisabled(&ui)}), std::pair(QORB_SUCCESS, flag));
    EXPECT_EQ(SetDialogHeader(&ui, x.a), QORB_SUCCESS);
    x.a = "changed";
    EXPECT_EQ(ui.DialogHeader(), "a");
}

/* Only the dummy object is offered, one at a time: a full table is reported before a kind not
 * offered, after an unknown one. The dummy answers everything and touches no argument. */
TEST(UserInputTable, OneDummyObjectAtATime) {
    void *ui = &ui, *second = &second, *none = nullptr;
    for (uint32_t type : {0u, 1u, 2u, 4u, 0xFFFFFFFFu})
        EXPECT_EQ((std::pair{CreateUI(nullptr, &ui, static_cast<_QORB_UI_TYPE_t>(type)), ui}),
            std::pair(QORB_INVALID_PARAMETER, none));
    EXPECT_EQ(CreateUI(nullptr, nullptr, QORB_UI_TYPE_DUMMY), QORB_INVALID_PARAMETER);
    ASSERT_EQ(CreateUI(nullptr, &ui, QORB_UI_TYPE_DUMMY), QORB_SUCCESS);
    EXPECT_EQ(CloseUI(&second), QORB_SUCCESS); /* not the open object: nothing changes */
    for (uint32_t type : {0u, 1u, 3u, 2u, 4u})
        EXPECT_EQ((std::pair{CreateUI(nullptr, &second, static_cast<_QORB_UI_TYPE_t>(type)), second}),
            std::pair(type == 2 || type == 4 ? QORB_INVALID_PARAMETER : QORB_INSUFFICIENT_RESOURCES, none));
    Args x;
    EXPECT_EQ(x.Dialogs(ui), std::vector<Status>(6, QORB_SUCCESS));
    EXPECT_EQ(std::tuple(x.a, x.b, x.c, x.list.size(), x.u, x.i, x.e.Poll()), std::tuple("a", "b", "c", 1u, 7u, 9, 0));
    EXPECT_EQ((std::vector{static_cast<CQORBUserInput*>(ui)->Reserved(1, 2, 3, 4, 5), CloseUI(ui),
                  CreateUI(nullptr, &second, QORB_UI_TYPE_DUMMY), CloseUI(second)}),
        std::vector<Status>(4, QORB_SUCCESS)); /* a closed object leaves the table */
}

/* An auto-reset event: one Set wakes one wait or poll, also across threads. Flags set before the
 * Set say why it woke (the first wins); alone they wake nobody, and nothing clears them. */
TEST(GuiEvent, WakeUpsAndFlags) {
    CQORBGuiEvent event, pong;
    std::thread peer([&] {
        for (int n = 0; n < 50 && event.Wait(20000) != QORB_EVENT_TIMEOUT; ++n) pong.Set();
    });
    for (int n = 0; n < 50; ++n) /* every wake-up from the other thread is seen */
        EXPECT_EQ((std::vector{event.Set(), pong.Wait(20000)}), (std::vector{QORB_SUCCESS, QORB_SUCCESS})) << n;
    peer.join();
    EXPECT_EQ((std::vector{(event.Set(), event.Set(), event.Poll()), event.Poll()}), (std::vector{1, 0})); /* one */
    EXPECT_EQ((std::vector{event.Set(), event.Wait(0), (event.SetSecondFlag(), event.Reset()), event.Wait(1),
                  event.Set(), event.Reset(), event.Wait(0), event.Set(), event.Wait(0),
                  (event.SetFirstFlag(), event.Set()), event.Wait(0), event.Set(), event.Wait(0)}),
        (std::vector{QORB_SUCCESS, QORB_SUCCESS, QORB_SUCCESS, QORB_EVENT_TIMEOUT, QORB_SUCCESS, QORB_SUCCESS,
            QORB_EVENT_TIMEOUT, QORB_SUCCESS, QORB_EVENT_FLAG2_SET, QORB_SUCCESS, QORB_EVENT_FLAG1_SET, QORB_SUCCESS,
            QORB_EVENT_FLAG1_SET}));
}

} // namespace
