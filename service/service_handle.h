// Owner of one handle of the service manager or of one service.
#ifndef KESTOR_SERVICE_SERVICE_HANDLE_H
#define KESTOR_SERVICE_SERVICE_HANDLE_H

#include <windows.h>

class ServiceHandle
{
public:
    explicit ServiceHandle(SC_HANDLE handle) : m_handle(handle) {}
    ~ServiceHandle() { Close(); }
    ServiceHandle(const ServiceHandle &) = delete;
    ServiceHandle &operator=(const ServiceHandle &) = delete;

    operator SC_HANDLE() const { return m_handle; }

    void Close()
    {
        if (m_handle != NULL)
            CloseServiceHandle(m_handle);
        m_handle = NULL;
    }

private:
    SC_HANDLE m_handle;
};

#endif  // KESTOR_SERVICE_SERVICE_HANDLE_H
