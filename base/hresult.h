// HRESULTs out of failures: the calling thread's last error as one, and the
// exception that carries one where a routine has no other way to fail.
#ifndef KESTOR_BASE_HRESULT_H
#define KESTOR_BASE_HRESULT_H

#include <windows.h>

// The HRESULT of the calling thread's last error; E_FAIL when a failed call
// left no error behind, so that a failure is never taken for success.
HRESULT HresultFromLastError();

// Raised only when a mandatory pointer argument is missing.
class CAtlException
{
public:
    explicit CAtlException(HRESULT hr) : m_hr(hr) {}
    operator HRESULT() const { return m_hr; }
    HRESULT m_hr;
};

#endif  // KESTOR_BASE_HRESULT_H
