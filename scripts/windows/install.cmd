@echo off
rem Installs the Kestor broker from the folder this script lies in:
rem   1. registers the proxy/stub library KestorPr.dll, so that COM can carry
rem      IKestor calls between processes;
rem   2. runs "ZovKestor.exe -Service", which registers the broker's COM
rem      classes and type library and creates the Windows service ZovKestor
rem      (automatic start, LocalSystem); COM starts it on first use.
rem Run it as an administrator. It stops at the first step that fails, with
rem that step's exit code; uninstall.cmd removes whatever was done so far.
setlocal
set "KESTOR_DIR=%~dp0"

set "KESTOR_MISSING="
for %%F in (KestorPr.dll ZovKestor.exe ZovKestor.tlb) do (
  if not exist "%KESTOR_DIR%%%F" (
    echo install: %%F is missing from %KESTOR_DIR% 1>&2
    set "KESTOR_MISSING=1"
  )
)
if defined KESTOR_MISSING exit /b 2

echo install: registering the proxy/stub library KestorPr.dll
regsvr32 /s "%KESTOR_DIR%KestorPr.dll"
set "KESTOR_RESULT=%ERRORLEVEL%"
if not "%KESTOR_RESULT%"=="0" goto proxy_failed

echo install: registering ZovKestor.exe as the Windows service ZovKestor
start "" /wait "%KESTOR_DIR%ZovKestor.exe" -Service
set "KESTOR_RESULT=%ERRORLEVEL%"
if not "%KESTOR_RESULT%"=="0" goto service_failed

echo install: done; COM starts the service ZovKestor when a client asks for it
exit /b 0

:proxy_failed
echo install: regsvr32 could not register KestorPr.dll (exit code %KESTOR_RESULT%) 1>&2
exit /b %KESTOR_RESULT%

:service_failed
echo install: "ZovKestor.exe -Service" failed with exit code %KESTOR_RESULT%; run uninstall.cmd to remove what was installed 1>&2
exit /b %KESTOR_RESULT%
