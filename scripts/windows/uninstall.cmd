@echo off
rem Removes the Kestor broker installed by install.cmd, in the reverse order:
rem   1. stops the service ZovKestor if it runs, so that nothing uses the
rem      program any more;
rem   2. runs "ZovKestor.exe -UnregServer", which deletes the service entry and
rem      the broker's COM classes, AppID and type-library registration;
rem   3. unregisters the proxy/stub library KestorPr.dll.
rem Values the broker wrote under HKEY_CLASSES_ROOT\GPI\Settings are settings,
rem not installation, and stay. Run it as an administrator. It stops at the
rem first step that fails, with that step's exit code.
setlocal
set "KESTOR_DIR=%~dp0"

set "KESTOR_MISSING="
for %%F in (KestorPr.dll ZovKestor.exe) do (
  if not exist "%KESTOR_DIR%%%F" (
    echo uninstall: %%F is missing from %KESTOR_DIR% 1>&2
    set "KESTOR_MISSING=1"
  )
)
if defined KESTOR_MISSING exit /b 2

sc query ZovKestor | find "RUNNING" >nul
if errorlevel 1 goto unregister_service
echo uninstall: stopping the service ZovKestor
net stop ZovKestor >nul
set "KESTOR_RESULT=%ERRORLEVEL%"
if not "%KESTOR_RESULT%"=="0" goto stop_failed

:unregister_service
echo uninstall: removing the service ZovKestor and the broker's COM registration
start "" /wait "%KESTOR_DIR%ZovKestor.exe" -UnregServer
set "KESTOR_RESULT=%ERRORLEVEL%"
if not "%KESTOR_RESULT%"=="0" goto service_failed

echo uninstall: unregistering the proxy/stub library KestorPr.dll
regsvr32 /s /u "%KESTOR_DIR%KestorPr.dll"
set "KESTOR_RESULT=%ERRORLEVEL%"
if not "%KESTOR_RESULT%"=="0" goto proxy_failed

echo uninstall: done
exit /b 0

:stop_failed
echo uninstall: the service ZovKestor could not be stopped (net stop exit code %KESTOR_RESULT%) 1>&2
exit /b %KESTOR_RESULT%

:service_failed
echo uninstall: "ZovKestor.exe -UnregServer" failed with exit code %KESTOR_RESULT% 1>&2
exit /b %KESTOR_RESULT%

:proxy_failed
echo uninstall: regsvr32 could not unregister KestorPr.dll (exit code %KESTOR_RESULT%) 1>&2
exit /b %KESTOR_RESULT%
