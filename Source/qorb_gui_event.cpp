/* The event object an application hands to dialogs: an auto-reset platform
 * event and two flags that tell a waiter why it was woken.
 *
 * The flags are plain bytes and nothing clears them once set; the platform
 * event is the only synchronisation. A waiter that should see a flag must be
 * woken by a Set() issued after the flag was set.
 *
 * QORB_EVENT_ABANDONED reports, on systems whose events can be owned, that
 * the owner went away while the wait was pending. The events of this
 * platform have no owner, so a wait is never abandoned and Wait() never
 * returns QORB_EVENT_ABANDONED. */
#include "qorb_internal.h"
#include "qorb_platform.h"

CQORBGuiEvent::CQORBGuiEvent() : m_event(PlatformCreateEvent()), m_firstFlag(0), m_secondFlag(0)
{
}

CQORBGuiEvent::~CQORBGuiEvent()
{
    if (m_event)
        PlatformCloseEvent(m_event);
}

_QORB_STATUS_t CQORBGuiEvent::Wait(uint32_t timeoutMs)
{
    if (!m_event)
        return QORB_STATUS_FAILED;
    switch (PlatformWaitEvent(m_event, timeoutMs)) {
    case QORB_WAIT_SIGNALED:
        if (m_firstFlag)
            return QORB_EVENT_FLAG1_SET;
        if (m_secondFlag)
            return QORB_EVENT_FLAG2_SET;
        return QORB_SUCCESS;
    case QORB_WAIT_TIMEOUT:
        return QORB_EVENT_TIMEOUT;
    default:
        return QORB_STATUS_FAILED;
    }
}

/* A zero time-out wait: a signalled event is consumed (auto-reset). */
int CQORBGuiEvent::Poll()
{
    if (!m_event)
        return 0;
    return PlatformWaitEvent(m_event, 0) == QORB_WAIT_SIGNALED ? 1 : 0;
}

void CQORBGuiEvent::SetFirstFlag()
{
    m_firstFlag = 1;
}

void CQORBGuiEvent::SetSecondFlag()
{
    m_secondFlag = 1;
}

_QORB_STATUS_t CQORBGuiEvent::Reset()
{
    if (!m_event || !PlatformResetEvent(m_event))
        return QORB_STATUS_FAILED;
    return QORB_SUCCESS;
}

_QORB_STATUS_t CQORBGuiEvent::Set()
{
    if (!m_event || !PlatformSetEvent(m_event))
        return QORB_STATUS_FAILED;
    return QORB_SUCCESS;
}
