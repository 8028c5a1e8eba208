// Holds a handle to a service, as the Services console or a monitoring agent
// does, until its standard input ends:
//   service_handle_holder NAME
// Prints "held" once the handle is open; exits with the Win32 error when it
// cannot open it.
#include <windows.h>

int main(int argc, char **argv)
{
    if (argc != 2)
        return ERROR_INVALID_PARAMETER;
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    if (manager == NULL)
        return static_cast<int>(GetLastError());
    SC_HANDLE service = OpenServiceA(manager, argv[1], SERVICE_QUERY_STATUS);
    DWORD error = service == NULL ? GetLastError() : ERROR_SUCCESS;
    CloseServiceHandle(manager);
    if (service == NULL)
        return static_cast<int>(error);

    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "held\n", 5, &written, NULL);
    // The driver closes its end to release the handle (or dies: same thing).
    char byte;
    DWORD read = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &read, NULL) && read > 0)
    {}
    CloseServiceHandle(service);
    return 0;
}
