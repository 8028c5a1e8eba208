// The program's one log: the event log in service mode, standard output as
// a local server.
#include "service_module.h"

#include <cstdarg>
#include <cstdio>

#include "base/handle_owner.h"

void CServiceModule::LogMessage(LPCSTR format, ...)
{
    char text[256];
    va_list arguments;
    va_start(arguments, format);
    int length = std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    if (length < 0)
        text[0] = '\0';  // a format error logs an empty line rather than garbage

    if (m_isService)
    {
        // Registered anew for each message. The text travels as the one
        // insertion string of event 0, which the program's message table
        // shows as it is (event_source.h).
        EventSourceHandle source(RegisterEventSourceA(NULL, m_serviceName));
        if (source == NULL)
            return;
        LPCSTR strings[1] = {text};
        ReportEventA(source, EVENTLOG_INFORMATION_TYPE, 0, 0, NULL, 1, 0, strings, NULL);
        return;
    }

    // A GUI-subsystem program: the line is seen only where standard output
    // was redirected, and dropped where there is none.
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == NULL || output == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(output, text, static_cast<DWORD>(lstrlenA(text)), &written, NULL);
    WriteFile(output, "\n", 1, &written, NULL);
}
