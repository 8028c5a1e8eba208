// What the checks learn about the installation as they go, in their order:
// later checks look at the files and the mode that earlier ones found.
#ifndef KESTOR_CHECKER_INSTALLATION_H
#define KESTOR_CHECKER_INSTALLATION_H

#include <string>
#include <vector>

#include "checker/file_info.h"

// The service COM starts the broker as, and so the name its AppID must give.
#define KESTOR_CHECK_SERVICE_NAME "ZovKestor"
#define KESTOR_CHECK_PROGRAM_FILE "ZovKestor.exe"
#define KESTOR_CHECK_PROXY_FILE "KestorPr.dll"
#define KESTOR_CHECK_TYPELIB_FILE "ZovKestor.tlb"

struct Installation
{
    // ZovKestor.exe as LocalServer32 names it; empty when it names none.
    InstalledFile server;
    // The folder LocalServer32 points into, even when the program is gone:
    // where install.cmd would be.
    std::string brokerFolder;
    // The AppID key could be read, so serviceMode is known.
    bool modeKnown = false;
    // The AppID holds "LocalService": COM starts the broker as a service.
    bool serviceMode = false;
    // The AppID holds "ServiceParameters", which only the service
    // registration writes: the installation was made to run as a service.
    bool serviceExpected = false;
    // In service mode, the AppID or the service entry keeps COM from
    // starting the service.
    bool serviceUnusable = false;
    // KestorPr.dll of each registry view that names one.
    std::vector<InstalledFile> proxies;
    // The file that version 1.0 of the type library names, when it exists.
    InstalledFile typeLibrary;
    // Others than administrators can change what LocalSystem runs: nothing
    // is started from there.
    bool foldersUntrusted = false;
};

#endif  // KESTOR_CHECKER_INSTALLATION_H
