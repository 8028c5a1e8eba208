# Installs the build into a fresh folder and checks the layout:
#   cmake -DBUILD_DIR=<build> -DPREFIX=<folder> -P check_install_layout.cmake
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

set(expected
    bin/ZovKestor.exe bin/ZovKestor.tlb bin/KestorPr.dll bin/kestor-set.exe
    bin/kestor-check.exe bin/x64/KestorPr.dll bin/x64/kestor-check.exe
    bin/install.cmd bin/uninstall.cmd
    include/kestor_interface.h include/ZovKestor.idl)
file(GLOB_RECURSE present RELATIVE ${PREFIX} ${PREFIX}/*)
list(SORT present)
set(missing)
foreach(file ${expected})
  if(NOT EXISTS ${PREFIX}/${file})
    list(APPEND missing ${file})
  endif()
endforeach()
if(missing)
  message(FATAL_ERROR "missing from the install folder: ${missing}\npresent: ${present}")
endif()
# Nothing else: no import libraries, no test programs, no MinGW runtime.
list(REMOVE_ITEM present ${expected})
if(present)
  message(FATAL_ERROR "unexpected in the install folder: ${present}")
endif()

# The scripts must keep their CRLF line ends for cmd (read as bytes: a text
# read would drop the CRs).
foreach(script install.cmd uninstall.cmd)
  file(READ ${PREFIX}/bin/${script} hex HEX)
  string(REGEX REPLACE "(..)" "\\1;" bytes "${hex}")
  set(previous "")
  set(bare 0)
  set(lines 0)
  foreach(byte IN LISTS bytes)
    if(byte STREQUAL "0a")
      math(EXPR lines "${lines} + 1")
      if(NOT previous STREQUAL "0d")
        math(EXPR bare "${bare} + 1")
      endif()
    endif()
    set(previous "${byte}")
  endforeach()
  if(lines EQUAL 0 OR NOT bare EQUAL 0)
    message(FATAL_ERROR "${script}: ${bare} of ${lines} line ends lack the CR")
  endif()
endforeach()
file(REMOVE_RECURSE ${PREFIX})
message(STATUS "install layout complete")
