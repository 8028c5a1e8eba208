# Checks the export table and the OLEAUT32 imports of KestorPr.dll, 32- or
# 64-bit (FORMAT: pei-i386 or pei-x86-64, the width the file must have).
#   cmake -DDLL=path -DOBJDUMP=objdump -DFORMAT=pei-i386 -P check_pe_tables.cmake
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${DLL} failed: ${rc}")
endif()

set(failures "")
macro(expect regex what)
  if(NOT dump MATCHES "${regex}")
    string(APPEND failures "\n  missing: ${what}")
  endif()
endmacro()

expect("file format ${FORMAT}\n" "file format ${FORMAT}")

# Export table: module name, base 1, four functions, names by ordinal.
expect("\nName[ \t]+[0-9a-fA-F]+ KestorProxy\\.DLL\n" "module name KestorProxy.DLL")
expect("Ordinal Base[ \t]+1\n" "ordinal base 1")
expect("Export Address Table[ \t]+00000004\n" "four exported functions")
expect("\\[Name Pointer/Ordinal\\] Table[ \t]+00000004\n" "four exported names")
expect("\\[Ordinal/Name Pointer\\] Table\n\t\\[   0\\] DllCanUnloadNow\n\t\\[   1\\] DllGetClassObject\n\t\\[   2\\] DllRegisterServer\n\t\\[   3\\] DllUnregisterServer\n"
       "ordinals 1-4: DllCanUnloadNow, DllGetClassObject, DllRegisterServer, DllUnregisterServer")

# OLEAUT32: the four BSTR routines by ordinal, nothing of it by name.
string(REGEX MATCH "DLL Name: OLEAUT32\\.dll\n[^\n]*\n(([^\n]+\n)*)" oleaut "${dump}")
set(imports "${CMAKE_MATCH_1}")
if(NOT oleaut)
  string(APPEND failures "\n  missing: an import table entry for OLEAUT32.dll")
endif()
# objdump prints a 32-bit file's ordinals in decimal, a 64-bit file's in hex.
foreach(ordinal 283 284 285 286)
  math(EXPR hex "${ordinal}" OUTPUT_FORMAT HEXADECIMAL)
  string(REPLACE "0x" "0*" hex "${hex}")
  if(NOT imports MATCHES "[ \t](${ordinal}|${hex})[ \t]+<none>")
    string(APPEND failures "\n  missing: OLEAUT32 ordinal ${ordinal} imported without a name")
  endif()
endforeach()
string(REGEX MATCHALL "\n" lines "${imports}")
list(LENGTH lines count)
if(NOT count EQUAL 4)
  string(APPEND failures "\n  OLEAUT32 imports ${count} entries, expected the 4 ordinals:\n${imports}")
endif()
if(dump MATCHES "BSTR_User")
  string(APPEND failures "\n  a BSTR routine is imported by name")
endif()
if(dump MATCHES "DLL Name: (lib[^\n]*|[^\n]*(gcc|stdc|pthread)[^\n]*)\n")
  string(APPEND failures "\n  imports a MinGW runtime DLL: ${CMAKE_MATCH_1}")
endif()

if(failures)
  message(FATAL_ERROR "${DLL}:${failures}")
endif()
message(STATUS "export table and OLEAUT32 ordinals of ${DLL} as expected")
