@echo off
rem What install.cmd and uninstall.cmd share. They call it as
rem .\kestor-common.cmd from this folder (call expands its line a second
rem time, so a path there would lose any % it holds):
rem   kestor-common.cmd regsvr32  sets KESTOR_REGSVR32 to the regsvr32 for the
rem                               32-bit KestorPr.dll and, on 64-bit Windows
rem                               only, KESTOR_REGSVR64 to the one for
rem                               x64\KestorPr.dll
rem   kestor-common.cmd hex NAME  sets KESTOR_HEX to the number in the
rem                               variable NAME as 0xXXXXXXXX, the form in
rem                               which an HRESULT exit code is looked up
rem Every program is named by its full path: the prompt looks for a bare name
rem in the current folder, this one, before the system's.
if "%~1"=="regsvr32" goto regsvr32
if "%~1"=="hex" goto hex
exit /b 1

:regsvr32
rem The 64-bit regsvr32 is System32's seen from a 64-bit prompt and
rem Sysnative's from a 32-bit one (where System32 means SysWOW64). The 32-bit
rem library goes to the 32-bit regsvr32 in SysWOW64, from either prompt, and
rem on 32-bit Windows to the one in System32.
set "KESTOR_REGSVR32=%SystemRoot%\System32\regsvr32.exe"
set "KESTOR_REGSVR64="
if /i "%PROCESSOR_ARCHITECTURE%"=="AMD64" set "KESTOR_REGSVR64=%SystemRoot%\System32\regsvr32.exe"
if /i "%PROCESSOR_ARCHITEW6432%"=="AMD64" set "KESTOR_REGSVR64=%SystemRoot%\Sysnative\regsvr32.exe"
if defined KESTOR_REGSVR64 set "KESTOR_REGSVR32=%SystemRoot%\SysWOW64\regsvr32.exe"
exit /b 0

:hex
set "KESTOR_HEX="
set /a "KESTOR_HEX_REST=%~2"
for /l %%I in (1,1,8) do call :hex_digit
set "KESTOR_HEX=0x%KESTOR_HEX%"
set "KESTOR_HEX_REST="
set "KESTOR_HEX_DIGIT="
exit /b 0

:hex_digit
rem The lowest four bits make the next digit, from the right. The digits
rem are plain letters and numbers, so the scripts may print KESTOR_HEX
rem outside quotes.
set /a "KESTOR_HEX_DIGIT=KESTOR_HEX_REST & 15, KESTOR_HEX_REST >>= 4"
if "%KESTOR_HEX_DIGIT%"=="10" set "KESTOR_HEX_DIGIT=A"
if "%KESTOR_HEX_DIGIT%"=="11" set "KESTOR_HEX_DIGIT=B"
if "%KESTOR_HEX_DIGIT%"=="12" set "KESTOR_HEX_DIGIT=C"
if "%KESTOR_HEX_DIGIT%"=="13" set "KESTOR_HEX_DIGIT=D"
if "%KESTOR_HEX_DIGIT%"=="14" set "KESTOR_HEX_DIGIT=E"
if "%KESTOR_HEX_DIGIT%"=="15" set "KESTOR_HEX_DIGIT=F"
set "KESTOR_HEX=%KESTOR_HEX_DIGIT%%KESTOR_HEX%"
exit /b 0
