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

# The scripts must keep their CRLF line ends for cmd.
foreach(script install.cmd uninstall.cmd)
  file(READ ${PREFIX}/bin/${script} text)
  string(REGEX MATCHALL "\r\n" crlf "${text}")
  string(REGEX MATCHALL "\n" lf "${text}")
  list(LENGTH crlf crlf_count)
  list(LENGTH lf lf_count)
  if(NOT crlf_count EQUAL lf_count)
    message(FATAL_ERROR "${script} has line ends without CR")
  endif()
endforeach()
file(REMOVE_RECURSE ${PREFIX})
message(STATUS "install layout complete")
