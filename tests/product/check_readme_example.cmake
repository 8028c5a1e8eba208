# Builds the C++ client example of README.md with the 32- and the 64-bit
# compiler, as the README tells a client developer to:
#   cmake -DREADME=path -DINCLUDE_DIR=dir -DWORK_DIR=dir -P check_readme_example.cmake
file(READ ${README} text)
string(FIND "${text}" "```cpp\n" start)
if(start EQUAL -1)
  message(FATAL_ERROR "${README} has no C++ example")
endif()
math(EXPR start "${start} + 7")
string(SUBSTRING "${text}" ${start} -1 rest)
string(FIND "${rest}" "```" length)
string(SUBSTRING "${rest}" 0 ${length} example)

file(MAKE_DIRECTORY ${WORK_DIR})
file(WRITE ${WORK_DIR}/client.cpp "${example}")
foreach(compiler i686-w64-mingw32-g++ x86_64-w64-mingw32-g++)
  execute_process(
    COMMAND ${compiler} -Wall -Wextra -Werror -I${INCLUDE_DIR} client.cpp
            -o client-${compiler}.exe -lole32 -loleaut32 -luuid
    WORKING_DIRECTORY ${WORK_DIR}
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "the README example does not build with ${compiler}:\n${output}")
  endif()
endforeach()
message(STATUS "the README example builds for 32- and 64-bit Windows")
