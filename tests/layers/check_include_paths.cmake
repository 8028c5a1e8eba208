# Compiles two one-line sources with the include path of one library: a
# header of a folder it links must be found, one of a folder that links it
# must not be.
#   cmake -DCXX=compiler -DINCLUDES=dir;dir -DWITH=header -DAGAINST=header
#         -DWORK_DIR=folder -P check_include_paths.cmake
cmake_minimum_required(VERSION 3.20)

set(flags)
foreach(dir IN LISTS INCLUDES)
  list(APPEND flags -I${dir})
endforeach()
file(MAKE_DIRECTORY ${WORK_DIR})

function(compile header result output)
  file(WRITE ${WORK_DIR}/probe.cpp "#include \"${header}\"\n")
  execute_process(COMMAND ${CXX} -fsyntax-only ${flags} ${WORK_DIR}/probe.cpp
                  RESULT_VARIABLE rc ERROR_VARIABLE error OUTPUT_QUIET)
  set(${result} ${rc} PARENT_SCOPE)
  set(${output} "${error}" PARENT_SCOPE)
endfunction()

compile(${WITH} rc error)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "\"${WITH}\" should be found and compile:\n${error}")
endif()
compile(${AGAINST} rc error)
if(rc EQUAL 0 OR NOT error MATCHES "${AGAINST}: No such file")
  message(FATAL_ERROR "\"${AGAINST}\" should not be found:\n${error}")
endif()
message(STATUS "\"${WITH}\" found, \"${AGAINST}\" not found")
