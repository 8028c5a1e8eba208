// One entry of the Service Control Manager, opened by name, for the tests
// that start, stop, query or delete it.
#ifndef KESTOR_TESTS_OPENED_SERVICE_H
#define KESTOR_TESTS_OPENED_SERVICE_H

#include <windows.h>

#include "base/handle_owner.h"

// The service opened with the access asked for, and the manager it was
// opened through; both are closed when it goes. A null handle when either
// could not be opened, with that call's error in OpenError.
class OpenedService
{
public:
    OpenedService(const char *name, DWORD access);
    OpenedService(const OpenedService &) = delete;
    OpenedService &operator=(const OpenedService &) = delete;

    SC_HANDLE Get() const { return m_service.Get(); }
    operator SC_HANDLE() const { return m_service.Get(); }
    DWORD OpenError() const { return m_error; }

private:
    ServiceHandle m_manager;
    ServiceHandle m_service;
    DWORD m_error;
};

#endif  // KESTOR_TESTS_OPENED_SERVICE_H
