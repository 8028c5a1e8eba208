// Owners of the kernel and service-manager handles the checks open.
#ifndef KESTOR_CHECKER_OWNED_HANDLES_H
#define KESTOR_CHECKER_OWNED_HANDLES_H

#include <windows.h>

// A kernel handle; null and INVALID_HANDLE_VALUE both mean none.
class OwnedHandle
{
public:
    explicit OwnedHandle(HANDLE handle) : m_handle(handle) {}
    ~OwnedHandle()
    {
        if (Valid())
            CloseHandle(m_handle);
    }
    OwnedHandle(const OwnedHandle &) = delete;
    OwnedHandle &operator=(const OwnedHandle &) = delete;
    HANDLE Get() const { return m_handle; }
    bool Valid() const { return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE; }

private:
    HANDLE m_handle;
};

class ServiceHandle
{
public:
    explicit ServiceHandle(SC_HANDLE handle) : m_handle(handle) {}
    ~ServiceHandle()
    {
        if (m_handle != nullptr)
            CloseServiceHandle(m_handle);
    }
    ServiceHandle(const ServiceHandle &) = delete;
    ServiceHandle &operator=(const ServiceHandle &) = delete;
    SC_HANDLE Get() const { return m_handle; }

private:
    SC_HANDLE m_handle;
};

#endif  // KESTOR_CHECKER_OWNED_HANDLES_H
