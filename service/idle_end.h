// The end of a local server that no client needs any more.
//
// A local server whose lock count has fallen to 0 lingers for an idle
// period, still taking activations; a client that comes meanwhile calls the
// end off. When the period passes with the count still 0, the server
// withdraws its class objects, so that COM starts a new server for the next
// client, and waits a short grace for a client that was handed the class
// object just before: only if no object or lock arrived by then does it post
// itself WM_QUIT. Otherwise it registers its class objects again and serves
// on. A server that COM started begins with an idle period, so that one no
// client ever reaches ends as well; one started by hand waits for its first
// client.
//
// It lives on the loop thread, which offers it every message first: the
// module's idle notice (WM_SERVER_IDLE) and its own thread timer.
#ifndef KESTOR_SERVICE_IDLE_END_H
#define KESTOR_SERVICE_IDLE_END_H

#include <windows.h>

#include "broker/com_module.h"

// Longer than the time COM may take to come back for the class object of a
// server it started: Wine's client looks once a second, and a loaded machine
// adds to that. Also the time a last release leaves for the next client to
// find the server still registered.
const DWORD kIdlePeriodMs = 3000;
// Longer than the time between COM handing a client the class object and
// the client's CreateInstance reaching the server.
const DWORD kWithdrawnGraceMs = 1000;

class CIdleEnd
{
public:
    explicit CIdleEnd(CComModule &module, DWORD idleMs = kIdlePeriodMs,
                      DWORD graceMs = kWithdrawnGraceMs);
    ~CIdleEnd();
    CIdleEnd(const CIdleEnd &) = delete;
    CIdleEnd &operator=(const CIdleEnd &) = delete;

    // Starts watching a local server whose class objects are registered;
    // idleNow starts its idle period at once.
    void Begin(bool idleNow);
    // Takes the message when it is the idle notice or the timer; the loop
    // dispatches every other one.
    bool Handle(const MSG &message);
    // The class objects are withdrawn: the server is on its way out.
    bool Withdrawn() const { return m_phase == PHASE_WITHDRAWN; }

private:
    enum Phase
    {
        PHASE_OFF,        // not a local server: nothing is watched
        PHASE_SERVING,    // registered, with clients or waiting for the first
        PHASE_LINGERING,  // registered, unused, the idle period running
        PHASE_WITHDRAWN   // revoked, the grace running
    };

    void StartTimer(DWORD milliseconds);
    void StopTimer();
    void OnTimer();

    CComModule &m_module;
    const DWORD m_idleMs;
    const DWORD m_graceMs;
    Phase m_phase;
    UINT_PTR m_timer;
};

#endif  // KESTOR_SERVICE_IDLE_END_H
