@echo off
rem Removes the Kestor broker installed by install.cmd, in the reverse order:
rem   1. stops the service ZovKestor if it runs, so that nothing uses the
rem      program any more;
rem   2. runs "ZovKestor.exe -UnregServer", which deletes the service entry and
rem      the broker's COM classes, AppID and type-library registration;
rem   3. unregisters the proxy/stub library KestorPr.dll, and on 64-bit Windows
rem      first its 64-bit twin x64\KestorPr.dll.
rem Values the broker wrote under HKEY_CLASSES_ROOT\GPI\Settings are settings,
rem not installation, and stay. Run it as an administrator.
rem If the service cannot be stopped, it stops there and removes nothing. A
rem failing step 2 or 3 is reported and the others are still carried out: each
rem removes what it can, and a second run after the cause is mended finishes
rem the work. It exits with the code of the first step that failed (2 when a
rem file is missing), or 0.
rem
rem The folder may be any, "C:\Program Files (x86)\Kestor\" for one: no path
rem is expanded inside parentheses or outside quotes, and every program is
rem named by its full path (see install.cmd). From a 32-bit prompt on 64-bit
rem Windows, System32 means SysWOW64, which holds sc, find and net too.
setlocal EnableExtensions DisableDelayedExpansion
set "KESTOR_DIR=%~dp0"
pushd "%KESTOR_DIR%"
call :uninstall
set "KESTOR_RESULT=%ERRORLEVEL%"
popd
exit /b %KESTOR_RESULT%

:uninstall
set "KESTOR_MISSING="
for %%F in (kestor-common.cmd KestorPr.dll ZovKestor.exe) do call :require %%F
if defined KESTOR_MISSING exit /b 2
call .\kestor-common.cmd regsvr32
if defined KESTOR_REGSVR64 call :require x64\KestorPr.dll
if defined KESTOR_MISSING exit /b 2
set "KESTOR_FIRST_FAILURE=0"

"%SystemRoot%\System32\sc.exe" query ZovKestor | "%SystemRoot%\System32\find.exe" "RUNNING" >nul
if errorlevel 1 goto unregister_service
echo uninstall: stopping the service ZovKestor
"%SystemRoot%\System32\net.exe" stop ZovKestor >nul
set "KESTOR_RESULT=%ERRORLEVEL%"
if not "%KESTOR_RESULT%"=="0" goto stop_failed

:unregister_service
echo uninstall: removing the service ZovKestor and the broker's COM registration
start "" /wait "%KESTOR_DIR%ZovKestor.exe" -UnregServer
set "KESTOR_RESULT=%ERRORLEVEL%"
if not "%KESTOR_RESULT%"=="0" call :service_failed

if not defined KESTOR_REGSVR64 goto unregister_proxy
echo uninstall: unregistering the 64-bit proxy/stub library x64\KestorPr.dll
"%KESTOR_REGSVR64%" /s /u "%KESTOR_DIR%x64\KestorPr.dll"
set "KESTOR_RESULT=%ERRORLEVEL%"
if not "%KESTOR_RESULT%"=="0" call :proxy64_failed

:unregister_proxy
echo uninstall: unregistering the proxy/stub library KestorPr.dll
"%KESTOR_REGSVR32%" /s /u "%KESTOR_DIR%KestorPr.dll"
set "KESTOR_RESULT=%ERRORLEVEL%"
if not "%KESTOR_RESULT%"=="0" call :proxy_failed

if not "%KESTOR_FIRST_FAILURE%"=="0" goto incomplete
echo uninstall: done
exit /b 0

:require
if exist "%KESTOR_DIR%%~1" exit /b 0
>&2 echo uninstall: %~1 is missing from "%KESTOR_DIR%"
set "KESTOR_MISSING=1"
exit /b 0

:stop_failed
>&2 echo uninstall: the service ZovKestor could not be stopped (net stop exit code %KESTOR_RESULT%); nothing was removed
exit /b %KESTOR_RESULT%

:service_failed
call .\kestor-common.cmd hex KESTOR_RESULT
>&2 echo uninstall: "ZovKestor.exe -UnregServer" failed with exit code %KESTOR_HEX% (%KESTOR_RESULT%)
goto failed

:proxy64_failed
>&2 echo uninstall: the 64-bit regsvr32 could not unregister x64\KestorPr.dll (exit code %KESTOR_RESULT%)
goto failed

:proxy_failed
>&2 echo uninstall: regsvr32 could not unregister KestorPr.dll (exit code %KESTOR_RESULT%)
goto failed

:failed
if "%KESTOR_FIRST_FAILURE%"=="0" set "KESTOR_FIRST_FAILURE=%KESTOR_RESULT%"
exit /b 0

:incomplete
>&2 echo uninstall: not complete; run uninstall.cmd again once the cause above is mended
exit /b %KESTOR_FIRST_FAILURE%
