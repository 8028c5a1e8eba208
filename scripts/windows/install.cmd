@echo off
rem Installs the Kestor broker from the folder this script lies in:
rem   1. registers the proxy/stub library KestorPr.dll, so that COM can carry
rem      IKestor calls between processes; on 64-bit Windows also its 64-bit
rem      twin x64\KestorPr.dll, for 64-bit clients;
rem   2. runs "ZovKestor.exe -Service", which registers the broker's COM
rem      classes and type library and creates the Windows service ZovKestor
rem      (automatic start, LocalSystem); COM starts it on first use.
rem Run it as an administrator. It stops at the first step that fails, names
rem the step and exits with that step's exit code (2 when a file is missing);
rem uninstall.cmd removes whatever was done so far.
rem
rem The folder may be any, "C:\Program Files (x86)\Kestor\" for one. The
rem prompt reads a parenthesised block whole, with its %...% expanded, before
rem it runs any of it, and a ")" in the folder's name would end the block: so
rem no path is expanded inside parentheses, and the steps are labels. Delayed
rem expansion stays off, or a "!" in the name would be lost. Nor is a path
rem expanded outside quotes, where an "&" in it would start a command.
rem Every program is named by its full path: after pushd the prompt would look
rem for a bare name ("regsvr32") in this folder first and run a regsvr32.bat
rem that someone put there.
setlocal EnableExtensions DisableDelayedExpansion
set "KESTOR_DIR=%~dp0"
pushd "%KESTOR_DIR%"
call :install
set "KESTOR_RESULT=%ERRORLEVEL%"
popd
exit /b %KESTOR_RESULT%

:install
set "KESTOR_MISSING="
for %%F in (kestor-common.cmd KestorPr.dll ZovKestor.exe ZovKestor.tlb) do call :require %%F
if defined KESTOR_MISSING exit /b 2
call .\kestor-common.cmd regsvr32
if defined KESTOR_REGSVR64 call :require x64\KestorPr.dll
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

:require
if exist "%KESTOR_DIR%%~1" exit /b 0
>&2 echo install: %~1 is missing from "%KESTOR_DIR%"
set "KESTOR_MISSING=1"
exit /b 0

:proxy_failed
>&2 echo install: regsvr32 could not register KestorPr.dll (exit code %KESTOR_RESULT%)
exit /b %KESTOR_RESULT%

:proxy64_failed
>&2 echo install: the 64-bit regsvr32 could not register x64\KestorPr.dll (exit code %KESTOR_RESULT%); run uninstall.cmd to remove what was installed
exit /b %KESTOR_RESULT%

:service_failed
call .\kestor-common.cmd hex KESTOR_RESULT
>&2 echo install: "ZovKestor.exe -Service" failed with exit code %KESTOR_HEX% (%KESTOR_RESULT%); run uninstall.cmd to remove what was installed
exit /b %KESTOR_RESULT%
