# The checker promises to change nothing: its imports hold no function that
# writes the registry, services, files, permissions or registrations.
#   cmake -DEXE=path -DOBJDUMP=objdump -P check_read_only_imports.cmake
execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${EXE} failed: ${rc}")
endif()
if(NOT dump MATCHES "RegOpenKeyExA")
  message(FATAL_ERROR "${EXE}: no import table found in:\n${dump}")
endif()

# LoadTypeLib (unlike LoadTypeLibEx with REGKIND_NONE) may register the library.
set(writers
    "Reg(Set|Create|Delete|Save|Restore|Replace|Load|UnLoad|Copy|Rename|OverridePredef)[A-Za-z]*"
    "(Create|Delete|Control|Start)Service[A-Za-z]*" "ChangeServiceConfig[A-Za-z0-9]*"
    "Set(ServiceObject|Named|File|Kernel|User|Private)?Security[A-Za-z]*" "SetEntriesInAcl[A-Za-z]*"
    "(Write|Delete|Move|Copy|Replace)File[A-Za-z]*" "(Create|Remove)Directory[A-Za-z]*"
    "SetFileAttributes[A-Za-z]*" "Msi[A-Za-z]*" "(Un)?RegisterTypeLib[A-Za-z]*" "LoadTypeLib"
    "CoRegister[A-Za-z]*" "_?(write|open|unlink|rename|mkdir|rmdir)")
set(found)
foreach(pattern ${writers})
  string(REGEX MATCHALL "\n[ \t]+[0-9a-f]+[ \t]+[0-9]+[ \t]+${pattern}\n" hits "${dump}")
  list(APPEND found ${hits})
endforeach()
if(found)
  string(REPLACE "\n" " " found "${found}")
  message(FATAL_ERROR "${EXE} imports functions that write: ${found}")
endif()
message(STATUS "${EXE} imports nothing that writes")
