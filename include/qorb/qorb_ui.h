/* User input objects and the event object passed to dialogs. */
#ifndef QORB_UI_H
#define QORB_UI_H

#include <stdint.h>

#include <string>
#include <vector>

#include <qorb/qorb_export.h>
#include <qorb/qorb_status.h>
#include <qorb/qorb_types.h>

/* An auto-reset event with two flags, handed to dialogs by the caller. */
class QORB_API CQORBGuiEvent {
public:
    CQORBGuiEvent();
    ~CQORBGuiEvent();
    _QORB_STATUS_t Wait(uint32_t timeoutMs);
    int Poll();
    void SetFirstFlag();
    void SetSecondFlag();
    _QORB_STATUS_t Reset();
    _QORB_STATUS_t Set();

    CQORBGuiEvent(const CQORBGuiEvent&) = delete;
    CQORBGuiEvent& operator=(const CQORBGuiEvent&) = delete;

private:
    void* m_event;          /* platform event object, or null */
    uint8_t m_firstFlag;
    uint8_t m_secondFlag;
};

/* Abstract user input object: slots 1 to 7 put up the dialogs. */
class QORB_API CQORBUserInput {
public:
    CQORBUserInput();
    virtual ~CQORBUserInput();                                                               /* slot 0 */
    virtual _QORB_STATUS_t GetSelectionFromList(std::string* title, std::vector<std::string>* choices,
                                                uint32_t* selection, uint32_t defaultIndex, int flags) = 0; /* 1 */
    virtual _QORB_STATUS_t Reserved(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t e) = 0; /* 2 */
    virtual _QORB_STATUS_t DisplayInfoToUser(std::string* text, uint32_t timeoutMs, int flags,
                                             CQORBGuiEvent* event, int modal, std::string* title) = 0; /* 3 */
    virtual _QORB_STATUS_t GetBooleanDecision(std::string* title, std::string* question, std::string* detail,
                                              int* decision, uint32_t timeoutMs, CQORBGuiEvent* event,
                                              int flags) = 0;                                        /* 4 */
    virtual _QORB_STATUS_t GetInteger(std::string* title, std::string* prompt, uint32_t* value, int flags,
                                      uint32_t defaultValue, int base, uint32_t minimum,
                                      uint32_t maximum) = 0;                                         /* 5 */
    virtual _QORB_STATUS_t GetString(std::string* title, std::string* prompt, std::string* value,
                                     uint32_t maxLength, int flags) = 0;                             /* 6 */
    virtual _QORB_STATUS_t TerminateDialog() = 0;                                                    /* 7 */

    _QORB_STATUS_t EnableInput();
    _QORB_STATUS_t DisableInput();
    int IsInputDisabled() const;
    _QORB_STATUS_t SetDialogHeader(const std::string& header);
    const std::string& DialogHeader() const { return m_dialogHeader; }

    CQORBUserInput(const CQORBUserInput&) = delete;
    CQORBUserInput& operator=(const CQORBUserInput&) = delete;

protected:
    int32_t m_inputFlag = 0;
    std::string m_dialogHeader;
};

/* Asks nobody: every dialog returns QORB_SUCCESS and fills no output. */
class QORB_API CDummyUserInput : public CQORBUserInput {
public:
    CDummyUserInput() = default;
    ~CDummyUserInput() override = default;
    _QORB_STATUS_t GetSelectionFromList(std::string*, std::vector<std::string>*, uint32_t*, uint32_t, int) override;
    _QORB_STATUS_t Reserved(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) override;
    _QORB_STATUS_t DisplayInfoToUser(std::string*, uint32_t, int, CQORBGuiEvent*, int, std::string*) override;
    _QORB_STATUS_t GetBooleanDecision(std::string*, std::string*, std::string*, int*, uint32_t, CQORBGuiEvent*,
                                      int) override;
    _QORB_STATUS_t GetInteger(std::string*, std::string*, uint32_t*, int, uint32_t, int, uint32_t,
                              uint32_t) override;
    _QORB_STATUS_t GetString(std::string*, std::string*, std::string*, uint32_t, int) override;
    _QORB_STATUS_t TerminateDialog() override;
};

#endif
