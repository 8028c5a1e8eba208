// Stopping the service before its entry is changed or deleted.
//
// A stop control can come too early: while the service is starting, the SCM
// refuses controls until the service has registered its handler
// (ERROR_SERVICE_CANNOT_ACCEPT_CTRL), and a service that COM has just started
// is in exactly that state. So the stop is sent again for as long as the
// service is neither stopped nor stopping, within a bound.
#ifndef KESTOR_SERVICE_SERVICE_STOP_H
#define KESTOR_SERVICE_SERVICE_STOP_H

#include <windows.h>

// Our service stops within milliseconds; 30 s is what the SCM itself gives a
// service to answer a control. One that has not stopped by then is hung by
// the SCM's own measure.
const DWORD kServiceStopWaitMs = 30000;

// Stops the service of `service` (opened with SERVICE_STOP and
// SERVICE_QUERY_STATUS) and waits for SERVICE_STOPPED. ERROR_SUCCESS once it
// is stopped; ERROR_SERVICE_REQUEST_TIMEOUT when it is not within boundMs;
// QueryServiceStatus's error when its state cannot be read.
DWORD StopServiceWithin(SC_HANDLE service, DWORD boundMs = kServiceStopWaitMs);

#endif  // KESTOR_SERVICE_SERVICE_STOP_H
