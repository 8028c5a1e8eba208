@echo off
rem Removes the Kestor broker installed by install.cmd, in the reverse order:
rem   1. stops the service ZovKestor if it runs, so that nothing uses the
rem      program any more;
rem   2. runs "ZovKestor.exe -UnregServer", which deletes the service entry and
rem      the broker's COM classes, AppID and type-library registration;
rem   3. unregisters the proxy/stub library KestorPr.dll, and on 64-bit Windows
rem      first its 64-bit twin x64\KestorPr.dll.
rem Values the broker wrote under HKEY_CLASSES_ROOT\GPI\Settings are settings,
rem not installation, and stay. Run it as an administrator. It stops at the
rem first step that fails, with that step's exit code.
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

set "KESTOR_FILES=KestorPr.dll ZovKestor.exe"
if defined KESTOR_REGSVR64 set "KESTOR_FILES=%KESTOR_FILES% x64\KestorPr.dll"
set "KESTOR_MISSING="
for %%F in (%KESTOR_FILES%) do (
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

if not defined KESTOR_REGSVR64 goto unregister_proxy
echo uninstall: unregistering the 64-bit proxy/stub library x64\KestorPr.dll
"%KESTOR_REGSVR64%" /s /u "%KESTOR_DIR%x64\KestorPr.dll"
set "KESTOR_RESULT=%ERRORLEVEL%"
if not "%KESTOR_RESULT%"=="0" goto proxy64_failed

:unregister_proxy
echo uninstall: unregistering the proxy/stub library KestorPr.dll
"%KESTOR_REGSVR32%" /s /u "%KESTOR_DIR%KestorPr.dll"
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

:proxy64_failed
echo uninstall: the 64-bit regsvr32 could not unregister x64\KestorPr.dll (exit code %KESTOR_RESULT%) 1>&2
exit /b %KESTOR_RESULT%

:proxy_failed
echo uninstall: regsvr32 could not unregister KestorPr.dll (exit code %KESTOR_RESULT%) 1>&2
exit /b %KESTOR_RESULT%
