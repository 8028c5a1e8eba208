@echo off
rem Installs the Kestor broker from the folder this script lies in:
rem   1. registers the proxy/stub library KestorPr.dll, so that COM can carry
rem      IKestor calls between processes; on 64-bit Windows also its 64-bit
rem      twin x64\KestorPr.dll, for 64-bit clients;
rem   2. runs "ZovKestor.exe -Service", which registers the broker's COM
rem      classes and type library and creates the Windows service ZovKestor
rem      (automatic start, LocalSystem); COM starts it on first use.
rem Run it as an administrator. It stops at the first step that fails, with
rem that step's exit code; uninstall.cmd removes whatever was done so far.
setlocal
set "KESTOR_DIR=%~dp0"

rem On 64-bit Windows the 64-bit library in x64\ is registered too, with the
rem 64-bit regsvr32: System32 seen from a 64-bit prompt, Sysnative from a
rem 32-bit one (where System32 means SysWOW64). The 32-bit library goes to the
rem 32-bit regsvr32 in SysWOW64, from either prompt.
set "KESTOR_REGSVR32=regsvr32"
set "KESTOR_REGSVR64="
if /i "%PROCESSOR_ARCHITECTURE%"=="AMD64" set "KESTOR_REGSVR64=%SystemRoot%\System32\regsvr32.exe"
if /i "%PROCESSOR_ARCHITEW6432%"=="AMD64" set "KESTOR_REGSVR64=%SystemRoot%\Sysnative\regsvr32.exe"
if defined KESTOR_REGSVR64 set "KESTOR_REGSVR32=%SystemRoot%\SysWOW64\regsvr32.exe"

set "KESTOR_FILES=KestorPr.dll ZovKestor.exe ZovKestor.tlb"
if defined KESTOR_REGSVR64 set "KESTOR_FILES=%KESTOR_FILES% x64\KestorPr.dll"
set "KESTOR_MISSING="
for %%F in (%KESTOR_FILES%) do (
  if not exist "%KESTOR_DIR%%%F" (
    echo install: %%F is missing from %KESTOR_DIR% 1>&2
    set "KESTOR_MISSING=1"
  )
)
if defined KESTOR_MISSING exit /b 2

echo install: registering the proxy/stub library KestorPr.dll
"%KESTOR_REGSVR32%" /s "%KESTOR_DIR%KestorPr.dll"
set "KESTOR_RESULT=%ERRORLEVEL%"
if not "%KESTOR_RESULT%"=="0" goto proxy_failed

if not defined KESTOR_REGSVR64 goto register_service
echo install: registering the 64-bit proxy/stub library x64\KestorPr.dll
"%KESTOR_REGSVR64%" /s "%KESTOR_DIR%x64\KestorPr.dll"
set "KESTOR_RESULT=%ERRORLEVEL%"
if not "%KESTOR_RESULT%"=="0" goto proxy64_failed

:register_service
echo install: registering ZovKestor.exe as the Windows service ZovKestor
start "" /wait "%KESTOR_DIR%ZovKestor.exe" -Service
set "KESTOR_RESULT=%ERRORLEVEL%"
if not "%KESTOR_RESULT%"=="0" goto service_failed

echo install: done; COM starts the service ZovKestor when a client asks for it
exit /b 0

:proxy_failed
echo install: regsvr32 could not register KestorPr.dll (exit code %KESTOR_RESULT%) 1>&2
exit /b %KESTOR_RESULT%

:proxy64_failed
echo install: the 64-bit regsvr32 could not register x64\KestorPr.dll (exit code %KESTOR_RESULT%); run uninstall.cmd to remove what was installed 1>&2
exit /b %KESTOR_RESULT%

:service_failed
echo install: "ZovKestor.exe -Service" failed with exit code %KESTOR_RESULT%; run uninstall.cmd to remove what was installed 1>&2
exit /b %KESTOR_RESULT%
