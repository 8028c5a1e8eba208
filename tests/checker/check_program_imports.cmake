# The import tables of every shipped program, both widths, read with objdump
# on the build machine:
#   cmake -DOBJDUMP=objdump -DBIN=<folder of the programs> -P check_program_imports.cmake
# - Each imports only Windows' known DLLs, which the loader takes from
#   System32 whatever the program's folder holds; any other DLL would be
#   looked for beside the program first, where someone may have planted one.
# - ZovKestor.exe imports OLE Automation by ordinal only.
# - kestor-check.exe, which promises to change nothing, imports no function
#   that writes the registry, services, files, permissions or registrations.
cmake_policy(SET CMP0057 NEW)
set(programs ZovKestor.exe KestorPr.dll kestor-set.exe kestor-check.exe x64/KestorPr.dll
             x64/kestor-check.exe)

# Known DLLs of every Windows since 7, 32- and 64-bit (the KnownDLLs key under
# HKLM\System\CurrentControlSet\Control\Session Manager), and ntdll, which the
# loader maps before anything else.
set(known advapi32 gdi32 kernel32 msvcrt ole32 oleaut32 rpcrt4 shell32 shlwapi user32 ws2_32
          ntdll)

# LoadTypeLib (unlike LoadTypeLibEx with REGKIND_NONE) may register the library.
set(writers
    "Reg(Set|Create|Delete|Save|Restore|Replace|Load|UnLoad|Copy|Rename|OverridePredef)[A-Za-z]*"
    "(Create|Delete|Control|Start)Service[A-Za-z]*" "ChangeServiceConfig[A-Za-z0-9]*"
    "Set(ServiceObject|Named|File|Kernel|User|Private)?Security[A-Za-z]*" "SetEntriesInAcl[A-Za-z]*"
    "(Write|Delete|Move|Copy|Replace)File[A-Za-z]*" "(Create|Remove)Directory[A-Za-z]*"
    "SetFileAttributes[A-Za-z]*" "Msi[A-Za-z]*" "(Un)?RegisterTypeLib[A-Za-z]*" "LoadTypeLib"
    "CoRegister[A-Za-z]*" "_?(write|open|unlink|rename|mkdir|rmdir)")

set(failures "")
foreach(program ${programs})
  execute_process(COMMAND ${OBJDUMP} -p ${BIN}/${program} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    string(APPEND failures "\n  ${program}: ${OBJDUMP} -p failed: ${rc}")
    continue()
  endif()
  if(program MATCHES "^x64/")
    set(format pei-x86-64)
  else()
    set(format pei-i386)
  endif()
  if(NOT dump MATCHES "file format ${format}")
    string(APPEND failures "\n  ${program}: not ${format}")
  endif()

  string(REGEX MATCHALL "DLL Name: [^\n]+" names "${dump}")
  if(NOT names)
    string(APPEND failures "\n  ${program}: no import table found")
  endif()
  foreach(name ${names})
    string(REGEX REPLACE "^DLL Name: " "" name "${name}")
    string(REGEX REPLACE "\\.[dD][lL][lL]$" "" dll "${name}")
    string(TOLOWER "${dll}" dll)
    if(NOT dll IN_LIST known)
      string(APPEND failures "\n  ${program} imports ${name}, which is not a known DLL")
    endif()
  endforeach()

  if(program STREQUAL "ZovKestor.exe")
    string(REGEX MATCH "DLL Name: OLEAUT32\\.dll\n[^\n]*\n(([^\n]+\n)*)" oleaut "${dump}")
    set(imports "${CMAKE_MATCH_1}")
    # SysAllocString, SysFreeString, SysStringLen, LoadTypeLib, RegisterTypeLib,
    # UnRegisterTypeLib, VarUI4FromStr.
    foreach(ordinal 2 6 7 161 163 186 277)
      if(NOT imports MATCHES "[ \t]${ordinal}[ \t]+<none>")
        string(APPEND failures "\n  ${program}: OLEAUT32 ordinal ${ordinal} not imported without a name")
      endif()
    endforeach()
    if(imports MATCHES "[ \t][0-9]+[ \t]+[A-Za-z_]")
      string(APPEND failures "\n  ${program}: OLEAUT32 routines imported by name:\n${imports}")
    endif()
  endif()

  if(program MATCHES "kestor-check\\.exe$")
    foreach(pattern ${writers})
      string(REGEX MATCHALL "\n[ \t]+[0-9a-f]+[ \t]+[0-9]+[ \t]+${pattern}\n" hits "${dump}")
      foreach(hit ${hits})
        string(STRIP "${hit}" hit)
        string(APPEND failures "\n  ${program} imports a function that writes: ${hit}")
      endforeach()
    endforeach()
  endif()
endforeach()

if(failures)
  message(FATAL_ERROR "Imports of the shipped programs:${failures}")
endif()
message(STATUS "the shipped programs import only known DLLs, and as each must")
