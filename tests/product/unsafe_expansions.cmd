@echo off
rem What the check of the shipped scripts must reject: the file check that
rem install.cmd had, which "C:\Program Files (x86)\Kestor\" broke, and a
rem call whose line would expand the folder a second time.
setlocal
set "KESTOR_DIR=%~dp0"
set "KESTOR_FILES=KestorPr.dll ZovKestor.exe ZovKestor.tlb"
for %%F in (%KESTOR_FILES%) do (
  if not exist "%KESTOR_DIR%%%F" (
    echo install: %%F is missing from %KESTOR_DIR% 1>&2
    exit /b 2
  )
)
call "%KESTOR_DIR%kestor-common.cmd" regsvr32
rem Outside quotes, where an "&" in a folder's name ends the command: a
rem path, an argument, and a code that one line sets from text.
echo install: registering %KESTOR_DIR%KestorPr.dll
"%SystemRoot%\System32\regsvr32.exe" /s %~dp0KestorPr.dll
goto %~1
set "KESTOR_CODE=%ERRORLEVEL%"
if not defined KESTOR_CODE set "KESTOR_CODE=%~n0"
exit /b %KESTOR_CODE%
rem Numbers may stand outside quotes: ERRORLEVEL, what "set /a" makes,
rem and letters and digits put together from them.
set "KESTOR_RESULT=%ERRORLEVEL%"
set /a "KESTOR_STEP=KESTOR_STEP + 1, KESTOR_LEFT >>= 4"
if "%KESTOR_STEP%"=="10" set "KESTOR_STEP=A"
set "KESTOR_HEX=0x%KESTOR_STEP%%KESTOR_HEX%"
echo install: step %KESTOR_STEP% failed with exit code %KESTOR_HEX% (%KESTOR_RESULT%)
exit /b %KESTOR_RESULT%
rem A label's arguments hold what its calls pass: the script's own file
rem names may stand outside quotes, names found on the disk may not.
for %%F in (KestorPr.dll x64\KestorPr.dll) do call :require %%F
for %%F in (*.dll) do call :found %%F
exit /b 0
:require
echo install: %~1 is missing
exit /b 0
:found
echo install: found %~1
exit /b 0
