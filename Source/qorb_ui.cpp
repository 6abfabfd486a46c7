/* User input objects: the abstract dialog interface, the one object that
 * asks nobody, the table of the open object, and the exported functions that
 * forward to the object's dialog operations.
 *
 * The dialog functions take the handle CreateUI gave out. A null handle
 * answers QORB_INVALID_PARAMETER (IsInputDisabled answers 0) rather than
 * crashing; any other handle is taken to be a user input object as it is. */
#include <new>

#include "qorb_internal.h"

namespace {

/* The user input object that is open, or null: at most one at a time. */
CQORBUserInput* g_qorbUserInput[1];

CQORBUserInput* ToUserInput(void* ui)
{
    return static_cast<CQORBUserInput*>(ui);
}

} // namespace

CQORBUserInput::CQORBUserInput() = default;
CQORBUserInput::~CQORBUserInput() = default;

_QORB_STATUS_t CQORBUserInput::EnableInput()
{
    m_inputFlag = 1;
    return QORB_SUCCESS;
}

_QORB_STATUS_t CQORBUserInput::DisableInput()
{
    m_inputFlag = 0;
    return QORB_SUCCESS;
}

int CQORBUserInput::IsInputDisabled() const
{
    return m_inputFlag;
}

_QORB_STATUS_t CQORBUserInput::SetDialogHeader(const std::string& header)
{
    m_dialogHeader = header;
    return QORB_SUCCESS;
}

/* CDummyUserInput answers every dialog at once and touches no argument. */
_QORB_STATUS_t CDummyUserInput::GetSelectionFromList(std::string*, std::vector<std::string>*, uint32_t*, uint32_t,
                                                     int)
{
    return QORB_SUCCESS;
}

_QORB_STATUS_t CDummyUserInput::Reserved(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t)
{
    return QORB_SUCCESS;
}

_QORB_STATUS_t CDummyUserInput::DisplayInfoToUser(std::string*, uint32_t, int, CQORBGuiEvent*, int, std::string*)
{
    return QORB_SUCCESS;
}

_QORB_STATUS_t CDummyUserInput::GetBooleanDecision(std::string*, std::string*, std::string*, int*, uint32_t,
                                                   CQORBGuiEvent*, int)
{
    return QORB_SUCCESS;
}

_QORB_STATUS_t CDummyUserInput::GetInteger(std::string*, std::string*, uint32_t*, int, uint32_t, int, uint32_t,
                                           uint32_t)
{
    return QORB_SUCCESS;
}

_QORB_STATUS_t CDummyUserInput::GetString(std::string*, std::string*, std::string*, uint32_t, int)
{
    return QORB_SUCCESS;
}

_QORB_STATUS_t CDummyUserInput::TerminateDialog()
{
    return QORB_SUCCESS;
}

/* The checks run in this order, so a second CreateUI of an unoffered kind
 * reports the full table before the kind. */
QORB_API _QORB_STATUS_t CreateUI(void*, void** ui, _QORB_UI_TYPE_t type)
{
    if (!ui)
        return QORB_INVALID_PARAMETER;
    *ui = nullptr;
    if (type == QORB_UI_TYPE_REMOTE || type > QORB_UI_TYPE_DUMMY)
        return QORB_INVALID_PARAMETER;
    if (g_qorbUserInput[0])
        return QORB_INSUFFICIENT_RESOURCES;
    if (type == QORB_UI_TYPE_CONSOLE || type == QORB_UI_TYPE_GUI)
        return QORB_INVALID_PARAMETER;
    CQORBUserInput* object = new (std::nothrow) CDummyUserInput;
    if (!object)
        return QORB_INSUFFICIENT_RESOURCES;
    g_qorbUserInput[0] = object;
    *ui = object;
    return QORB_SUCCESS;
}

/* Only the open object is destroyed; any other handle is ignored. */
QORB_API _QORB_STATUS_t CloseUI(void* ui)
{
    if (ui && ui == g_qorbUserInput[0]) {
        delete g_qorbUserInput[0];
        g_qorbUserInput[0] = nullptr;
    }
    return QORB_SUCCESS;
}

QORB_API _QORB_STATUS_t GetSelectionFromList(void* ui, std::string* title, std::vector<std::string>* choices,
                                             uint32_t* selection, uint32_t defaultIndex, int flags)
{
    if (!ui)
        return QORB_INVALID_PARAMETER;
    return ToUserInput(ui)->GetSelectionFromList(title, choices, selection, defaultIndex, flags);
}

/* The dialog receives the time-out before the flags and the event. */
QORB_API _QORB_STATUS_t DisplayInfoToUser(void* ui, std::string* text, int flags, CQORBGuiEvent* event,
                                          uint32_t timeoutMs, int modal, std::string* title)
{
    if (!ui)
        return QORB_INVALID_PARAMETER;
    return ToUserInput(ui)->DisplayInfoToUser(text, timeoutMs, flags, event, modal, title);
}

QORB_API _QORB_STATUS_t GetBooleanDecision(void* ui, std::string* title, std::string* question,
                                           std::string* detail, int* decision, uint32_t timeoutMs,
                                           CQORBGuiEvent* event, int flags)
{
    if (!ui)
        return QORB_INVALID_PARAMETER;
    return ToUserInput(ui)->GetBooleanDecision(title, question, detail, decision, timeoutMs, event, flags);
}

/* The dialog receives the default and the base before the limits. */
QORB_API _QORB_STATUS_t GetInteger(void* ui, std::string* title, std::string* prompt, uint32_t* value, int flags,
                                   uint32_t minimum, uint32_t maximum, uint32_t defaultValue, int base)
{
    if (!ui)
        return QORB_INVALID_PARAMETER;
    return ToUserInput(ui)->GetInteger(title, prompt, value, flags, defaultValue, base, minimum, maximum);
}

QORB_API _QORB_STATUS_t GetString(void* ui, std::string* title, std::string* prompt, std::string* value,
                                  uint32_t maxLength, int flags)
{
    if (!ui)
        return QORB_INVALID_PARAMETER;
    return ToUserInput(ui)->GetString(title, prompt, value, maxLength, flags);
}

QORB_API _QORB_STATUS_t TerminateDialog(void* ui)
{
    if (!ui)
        return QORB_INVALID_PARAMETER;
    return ToUserInput(ui)->TerminateDialog();
}

QORB_API _QORB_STATUS_t EnableInput(void* ui)
{
    if (!ui)
        return QORB_INVALID_PARAMETER;
    return ToUserInput(ui)->EnableInput();
}

QORB_API _QORB_STATUS_t DisableInput(void* ui)
{
    if (!ui)
        return QORB_INVALID_PARAMETER;
    return ToUserInput(ui)->DisableInput();
}

QORB_API int IsInputDisabled(void* ui)
{
    return ui ? ToUserInput(ui)->IsInputDisabled() : 0;
}

QORB_API _QORB_STATUS_t SetDialogHeader(void* ui, const std::string& header)
{
    if (!ui)
        return QORB_INVALID_PARAMETER;
    return ToUserInput(ui)->SetDialogHeader(header);
}
