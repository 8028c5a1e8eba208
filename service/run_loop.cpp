// The server loop of both modes: COM apartment and security, the class
// objects, and the thread's message loop through which COM delivers calls.
#include "service_module.h"

#include "idle_end.h"
#include "token_security_descriptor.h"

void CServiceModule::RunServer()
{
    // The queue exists before the id is published: a WM_QUIT posted from now
    // on waits for the loop below.
    MSG message;
    PeekMessageA(&message, NULL, WM_USER, WM_USER, PM_NOREMOVE);
    m_loopThreadId = GetCurrentThreadId();

    // A server that cannot serve says so and ends, rather than leave every
    // client waiting for COM's activation timeout.
    HRESULT hr = CoInitialize(NULL);
    if (FAILED(hr))
    {
        EndUnstarted(hr);
        return;
    }
    {
        CTokenSecurityDescriptor descriptor;
        descriptor.BuildFromToken(FALSE, TRUE);
        CoInitializeSecurity(static_cast<PSECURITY_DESCRIPTOR>(descriptor), -1, NULL, NULL,
                             RPC_C_AUTHN_LEVEL_PKT, RPC_C_IMP_LEVEL_IMPERSONATE, NULL, EOAC_NONE,
                             NULL);
        hr = RegisterClassObjects(kClassObjectContext, kClassObjectFlags);
        if (FAILED(hr))
        {
            // Rows registered before the failing one go again.
            RevokeClassObjects();
            CoUninitialize();
            EndUnstarted(hr);
            return;
        }
        // A local server ends once it has stayed unused for a while; one that
        // COM started may never get the client it was started for.
        CIdleEnd idleEnd(*this);
        if (!m_isService)
            idleEnd.Begin(m_startedByCom != FALSE);

        LogMessage("Service started");
        // After an early stop this report is dropped and the queued WM_QUIT
        // ends the loop at once.
        if (m_isService)
            ReportServiceState(SERVICE_RUNNING);

        while (GetMessageA(&message, NULL, 0, 0) > 0)
        {
            if (!idleEnd.Handle(message))
                DispatchMessageA(&message);
        }

        // A server that ended unused withdrew its class objects already.
        if (!idleEnd.Withdrawn())
            RevokeClassObjects();
        CoUninitialize();
    }
}

void CServiceModule::EndUnstarted(HRESULT hr)
{
    LogMessage("Service not started: 0x%08lX", static_cast<unsigned long>(hr));
    // The HRESULT is no Win32 code: the SCM takes it as the service's own.
    SetExitCode(ERROR_SERVICE_SPECIFIC_ERROR, static_cast<DWORD>(hr));
}
