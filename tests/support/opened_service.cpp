#include "opened_service.h"

OpenedService::OpenedService(const char *name, DWORD access)
    : m_manager(OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT)), m_error(ERROR_SUCCESS)
{
    if (m_manager.Get() != NULL)
        *m_service.Place() = OpenServiceA(m_manager, name, access);
    if (m_service.Get() == NULL)
        m_error = GetLastError();
}
