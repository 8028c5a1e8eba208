// Owners of the kernel and service-manager handles the checks open.
#ifndef KESTOR_CHECKER_OWNED_HANDLES_H
#define KESTOR_CHECKER_OWNED_HANDLES_H

#include <windows.h>

// ServiceHandle: the service manager or one service.
#include "base/handle_owner.h"

// A kernel handle; null and INVALID_HANDLE_VALUE both mean none (a file
// that CreateFile could not open), which is why it is not a HandleOwner.
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

#endif  // KESTOR_CHECKER_OWNED_HANDLES_H
