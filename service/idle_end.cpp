#include "idle_end.h"

#include "service_module.h"

CIdleEnd::CIdleEnd(CComModule &module, DWORD idleMs, DWORD graceMs)
    : m_module(module), m_idleMs(idleMs), m_graceMs(graceMs), m_phase(PHASE_OFF), m_timer(0)
{}

CIdleEnd::~CIdleEnd()
{
    StopTimer();
}

void CIdleEnd::Begin(bool idleNow)
{
    m_phase = PHASE_SERVING;
    if (idleNow)
    {
        m_phase = PHASE_LINGERING;
        StartTimer(m_idleMs);
    }
}

bool CIdleEnd::Handle(const MSG &message)
{
    if (m_phase == PHASE_OFF || message.hwnd != NULL)
        return false;
    if (message.message == WM_SERVER_IDLE)
    {
        // Every last release starts the period anew. A withdrawn server
        // already counts its grace; the count is looked at when it ends.
        if (m_phase != PHASE_WITHDRAWN)
        {
            m_phase = PHASE_LINGERING;
            StartTimer(m_idleMs);
        }
        return true;
    }
    if (message.message == WM_TIMER && m_timer != 0 && message.wParam == m_timer)
    {
        OnTimer();
        return true;
    }
    return false;
}

void CIdleEnd::OnTimer()
{
    StopTimer();
    const bool unused = m_module.GetLockCount() == 0;
    if (m_phase == PHASE_LINGERING)
    {
        if (!unused)
        {
            m_phase = PHASE_SERVING;  // its last release starts the period again
            return;
        }
        // Take no more activations, then give a client that was handed the
        // class object just before the time to reach the server.
        m_module.RevokeClassObjects();
        m_phase = PHASE_WITHDRAWN;
        StartTimer(m_graceMs);
    }
    else if (m_phase == PHASE_WITHDRAWN)
    {
        if (unused)
        {
            PostQuitMessage(0);
            return;
        }
        m_module.RegisterClassObjects(kClassObjectContext, kClassObjectFlags);
        m_phase = PHASE_SERVING;
    }
}

void CIdleEnd::StartTimer(DWORD milliseconds)
{
    StopTimer();
    // Should no timer be had, the server keeps running: the safe side.
    m_timer = SetTimer(NULL, 0, milliseconds, NULL);
}

void CIdleEnd::StopTimer()
{
    if (m_timer != 0)
        KillTimer(NULL, m_timer);
    m_timer = 0;
}
