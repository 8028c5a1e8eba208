# Checks the imports of ZovKestor.exe: OLE Automation only by ordinal, and no
# MinGW runtime DLL beside the program.
#   cmake -DEXE=path -DOBJDUMP=objdump -P check_program_imports.cmake
execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${EXE} failed: ${rc}")
endif()

set(failures "")
string(REGEX MATCH "DLL Name: OLEAUT32\\.dll\n[^\n]*\n(([^\n]+\n)*)" oleaut "${dump}")
set(imports "${CMAKE_MATCH_1}")
# SysAllocString, SysFreeString, SysStringLen, LoadTypeLib, RegisterTypeLib,
# UnRegisterTypeLib, VarUI4FromStr.
foreach(ordinal 2 6 7 161 163 186 277)
  if(NOT imports MATCHES "[ \t]${ordinal}[ \t]+<none>")
    string(APPEND failures "\n  missing: OLEAUT32 ordinal ${ordinal} imported without a name")
  endif()
endforeach()
if(imports MATCHES "[ \t][0-9]+[ \t]+[A-Za-z_]")
  string(APPEND failures "\n  OLEAUT32 routines imported by name:\n${imports}")
endif()
if(dump MATCHES "DLL Name: (lib[^\n]*|[^\n]*(gcc|stdc|pthread)[^\n]*)\n")
  string(APPEND failures "\n  imports a MinGW runtime DLL: ${CMAKE_MATCH_1}")
endif()
if(NOT dump MATCHES "file format pei-i386")
  string(APPEND failures "\n  not a 32-bit x86 program")
endif()

if(failures)
  message(FATAL_ERROR "${EXE}:${failures}")
endif()
message(STATUS "imports of ${EXE} as expected")
