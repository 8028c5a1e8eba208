@echo off
rem What the check of the shipped scripts must reject: programs named
rem without their folder, which the prompt looks for in the current folder
rem first, wherever the command stands; and a variable set to such a name.
setlocal
sc query ZovKestor | find "RUNNING" >nul
if errorlevel 1 net stop ZovKestor >nul
for %%F in (KestorPr.dll) do regsvr32.exe /s "%%F"
call reg.exe query HKLM\Software >nul
start "" /wait msiexec /qn /x "{00000000-0000-0000-0000-000000000000}"
for /f "delims=" %%L in ('where regsvr32') do set "KESTOR_FOUND=%%L"
set "KESTOR_TOOL=regsvr32"
"%KESTOR_TOOL%" /s KestorPr.dll
if exist "%KESTOR_FOUND%" (
  >&2 echo stopping the service
  taskkill /im ZovKestor.exe
) else (
  cmd /c exit 1
)
rem These pass: built-ins, labels, paths and variables set only to paths.
call :done
call .\kestor-common.cmd regsvr32
"%SystemRoot%\System32\sc.exe" query ZovKestor | "%SystemRoot%\System32\find.exe" "RUNNING" >nul
set "KESTOR_DIR=%~dp0"
start "" /wait "%KESTOR_DIR%ZovKestor.exe" -Service
set "KESTOR_REGSVR64="
if /i "%PROCESSOR_ARCHITECTURE%"=="AMD64" set "KESTOR_REGSVR64=%SystemRoot%\System32\regsvr32.exe"
if defined KESTOR_REGSVR64 "%KESTOR_REGSVR64%" /s "%KESTOR_DIR%x64\KestorPr.dll"
:done
exit /b 0
