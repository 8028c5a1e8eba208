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
