/* User input objects: the table of the open object, the dialog functions'
 * forwarding to the object's operations, and the object that asks nobody. */
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include <qorb/qorb.h>

namespace {

/* Remembers what each dialog operation received, in the order received. */
class RecordingUserInput : public CQORBUserInput {
public:
    std::string slot;
    std::vector<uintptr_t> args;
    _QORB_STATUS_t answer = static_cast<_QORB_STATUS_t>(0x8000001Du);

    template <typename... T>
    _QORB_STATUS_t Record(const char* name, T... values)
    {
        slot = name;
        args = {Word(values)...};
        return answer;
    }
    template <typename T>
    static uintptr_t Word(T* p) { return reinterpret_cast<uintptr_t>(p); }
    static uintptr_t Word(uint32_t v) { return v; }
    static uintptr_t Word(int v) { return static_cast<uint32_t>(v); }

    _QORB_STATUS_t GetSelectionFromList(std::string* a, std::vector<std::string>* b, uint32_t* c, uint32_t d,
                                        int e) override
    {
        return Record("GetSelectionFromList", a, b, c, d, e);
    }
    _QORB_STATUS_t Reserved(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t e) override
    {
        return Record("Reserved", a, b, c, d, e);
    }
    _QORB_STATUS_t DisplayInfoToUser(std::string* a, uint32_t b, int c, CQORBGuiEvent* d, int e,
                                     std::string* f) override
    {
        return Record("DisplayInfoToUser", a, b, c, d, e, f);
    }
    _QORB_STATUS_t GetBooleanDecision(std::string* a, std::string* b, std::string* c, int* d, uint32_t e,
                                      CQORBGuiEvent* f, int g) override
    {
        return Record("GetBooleanDecision", a, b, c, d, e, f, g);
    }
    _QORB_STATUS_t GetInteger(std::string* a, std::string* b, uint32_t* c, int d, uint32_t e, int f, uint32_t g,
                              uint32_t h) override
    {
        return Record("GetInteger", a, b, c, d, e, f, g, h);
    }
    _QORB_STATUS_t GetString(std::string* a, std::string* b, std::string* c, uint32_t d, int e) override
    {
        return Record("GetString", a, b, c, d, e);
    }
    _QORB_STATUS_t TerminateDialog() override { return Record("TerminateDialog"); }
};

template <typename T>
uintptr_t W(T* p)
{
    return reinterpret_cast<uintptr_t>(p);
}

class Dialogs : public ::testing::Test {
protected:
    RecordingUserInput ui;
    std::string s1 = "one", s2 = "two", s3 = "three";
    std::vector<std::string> list{"a", "b"};
    uint32_t u = 0;
    int i = 0;
    CQORBGuiEvent event;
    /* The operation the last call reached and what it received. */
    void ExpectCall(const char* slot, const std::vector<uintptr_t>& args)
    {
        EXPECT_EQ(ui.slot, slot);
        EXPECT_EQ(ui.args, args) << slot;
    }
};

TEST_F(Dialogs, SelectionBooleanAndStringArriveInTheirOwnOrder)
{
    EXPECT_EQ(GetSelectionFromList(&ui, &s1, &list, &u, 41, 42), ui.answer);
    ExpectCall("GetSelectionFromList", {W(&s1), W(&list), W(&u), 41, 42});

    EXPECT_EQ(GetBooleanDecision(&ui, &s1, &s2, &s3, &i, 51, &event, 52), ui.answer);
    ExpectCall("GetBooleanDecision", {W(&s1), W(&s2), W(&s3), W(&i), 51, W(&event), 52});

    EXPECT_EQ(GetString(&ui, &s1, &s2, &s3, 61, 62), ui.answer);
    ExpectCall("GetString", {W(&s1), W(&s2), W(&s3), 61, 62});

    EXPECT_EQ(TerminateDialog(&ui), ui.answer);
    ExpectCall("TerminateDialog", {});
}

/* Exported (text, flags, event, timeout, modal, title) reaches the
 * operation as (text, timeout, flags, event, modal, title). */
TEST_F(Dialogs, DisplayInfoToUserReceivesTheTimeOutSecond)
{
    EXPECT_EQ(DisplayInfoToUser(&ui, &s1, 2, &event, 4, 5, &s2), ui.answer);
    ExpectCall("DisplayInfoToUser", {W(&s1), 4, 2, W(&event), 5, W(&s2)});
}

/* Exported arguments 1..8 reach the operation in the order 1 2 3 4 7 8 5 6. */
TEST_F(Dialogs, GetIntegerReceivesItsLastTwoArgumentsBeforeTheMiddleTwo)
{
    EXPECT_EQ(GetInteger(&ui, &s1, &s2, &u, 4, 5, 6, 7, 8), ui.answer);
    ExpectCall("GetInteger", {W(&s1), W(&s2), W(&u), 4, 7, 8, 5, 6});
}

TEST_F(Dialogs, InputFlagAndHeaderPersistOnTheObject)
{
    EXPECT_EQ(IsInputDisabled(&ui), 0);
    EXPECT_EQ(EnableInput(&ui), QORB_SUCCESS);
    EXPECT_EQ(IsInputDisabled(&ui), 1);
    EXPECT_EQ(EnableInput(&ui), QORB_SUCCESS);
    EXPECT_EQ(IsInputDisabled(&ui), 1);
    EXPECT_EQ(DisableInput(&ui), QORB_SUCCESS);
    EXPECT_EQ(IsInputDisabled(&ui), 0);

    EXPECT_EQ(ui.DialogHeader(), "");
    std::string header = "Link training";
    EXPECT_EQ(SetDialogHeader(&ui, header), QORB_SUCCESS);
    header = "changed";
    EXPECT_EQ(ui.DialogHeader(), "Link training"); /* a copy is kept */
}

TEST(DialogsNullHandle, AreRefusedWithoutACrash)
{
    std::string s;
    uint32_t u = 0;
    EXPECT_EQ(GetInteger(nullptr, &s, &s, &u, 0, 0, 0, 0, 0), QORB_INVALID_PARAMETER);
    EXPECT_EQ(TerminateDialog(nullptr), QORB_INVALID_PARAMETER);
    EXPECT_EQ(EnableInput(nullptr), QORB_INVALID_PARAMETER);
    EXPECT_EQ(IsInputDisabled(nullptr), 0);
    EXPECT_EQ(SetDialogHeader(nullptr, s), QORB_INVALID_PARAMETER);
}

/* CreateUI keeps a table of one open object. */
class UserInputTable : public ::testing::Test {
protected:
    void* ui = reinterpret_cast<void*>(0x1);
    void TearDown() override { CloseUI(ui); }
};

TEST_F(UserInputTable, DummyObjectAnswersSuccessAndLeavesOutputsAlone)
{
    ASSERT_EQ(CreateUI(nullptr, &ui, QORB_UI_TYPE_DUMMY), QORB_SUCCESS);
    ASSERT_NE(ui, nullptr);
    EXPECT_NE(dynamic_cast<CDummyUserInput*>(static_cast<CQORBUserInput*>(ui)), nullptr);

    std::string title = "t", prompt = "p", value = "v";
    std::vector<std::string> choices{"x"};
    uint32_t number = 7;
    int decision = 9;
    CQORBGuiEvent event;
    EXPECT_EQ(GetSelectionFromList(ui, &title, &choices, &number, 1, 1), QORB_SUCCESS);
    EXPECT_EQ(DisplayInfoToUser(ui, &title, 1, &event, 10, 1, &prompt), QORB_SUCCESS);
    EXPECT_EQ(GetBooleanDecision(ui, &title, &prompt, &value, &decision, 10, &event, 1), QORB_SUCCESS);
    EXPECT_EQ(GetInteger(ui, &title, &prompt, &number, 1, 0, 100, 50, 10), QORB_SUCCESS);
    EXPECT_EQ(GetString(ui, &title, &prompt, &value, 16, 1), QORB_SUCCESS);
    EXPECT_EQ(static_cast<CQORBUserInput*>(ui)->Reserved(1, 2, 3, 4, 5), QORB_SUCCESS);
    EXPECT_EQ(TerminateDialog(ui), QORB_SUCCESS);
    EXPECT_EQ(std::tuple(number, decision, value, title, prompt), std::tuple(7u, 9, "v", "t", "p"));
    EXPECT_EQ(choices, std::vector<std::string>{"x"});
    EXPECT_EQ(event.Poll(), 0); /* the event was not touched either */

    EXPECT_EQ(IsInputDisabled(ui), 0);
    EXPECT_EQ(EnableInput(ui), QORB_SUCCESS);
    EXPECT_EQ(IsInputDisabled(ui), 1);
}

TEST_F(UserInputTable, OnlyOneObjectIsOpenAtATime)
{
    ASSERT_EQ(CreateUI(nullptr, &ui, QORB_UI_TYPE_DUMMY), QORB_SUCCESS);
    void* second = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(CreateUI(nullptr, &second, QORB_UI_TYPE_DUMMY), QORB_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(second, nullptr);
    /* The full table is reported before a kind that is not offered... */
    second = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(CreateUI(nullptr, &second, QORB_UI_TYPE_CONSOLE), QORB_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(second, nullptr);
    /* ...but after an unknown one. */
    EXPECT_EQ(CreateUI(nullptr, &second, QORB_UI_TYPE_REMOTE), QORB_INVALID_PARAMETER);
    EXPECT_EQ(CreateUI(nullptr, &second, static_cast<_QORB_UI_TYPE_t>(4)), QORB_INVALID_PARAMETER);

    EXPECT_EQ(CloseUI(ui), QORB_SUCCESS);
    ui = nullptr;
    ASSERT_EQ(CreateUI(nullptr, &second, QORB_UI_TYPE_DUMMY), QORB_SUCCESS);
    EXPECT_NE(second, nullptr);
    ui = second;
}

TEST_F(UserInputTable, KindsNotOfferedAreRefusedWithANullHandle)
{
    for (uint32_t type : {0u, 1u, 2u, 4u, 0xFFFFFFFFu}) {
        ui = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(CreateUI(nullptr, &ui, static_cast<_QORB_UI_TYPE_t>(type)), QORB_INVALID_PARAMETER) << type;
        EXPECT_EQ(ui, nullptr) << type;
    }
    EXPECT_EQ(CreateUI(nullptr, nullptr, QORB_UI_TYPE_DUMMY), QORB_INVALID_PARAMETER);
    /* None of the refusals took the table's entry. */
    ASSERT_EQ(CreateUI(nullptr, &ui, QORB_UI_TYPE_DUMMY), QORB_SUCCESS);
}

TEST_F(UserInputTable, ClosingAHandleThatIsNotOpenChangesNothing)
{
    ASSERT_EQ(CreateUI(nullptr, &ui, QORB_UI_TYPE_DUMMY), QORB_SUCCESS);
    RecordingUserInput other;
    EXPECT_EQ(CloseUI(&other), QORB_SUCCESS);
    EXPECT_EQ(CloseUI(nullptr), QORB_SUCCESS);
    void* second = nullptr;
    EXPECT_EQ(CreateUI(nullptr, &second, QORB_UI_TYPE_DUMMY), QORB_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(EnableInput(ui), QORB_SUCCESS); /* still a live object */
    EXPECT_EQ(IsInputDisabled(ui), 1);
}

} // namespace
