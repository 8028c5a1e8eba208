# Checks that every C and C++ source follows .clang-format:
#   cmake -DSOURCE_DIR=... -DCLANG_FORMAT=... -P check-format.cmake
# Prints each place that differs and fails when there is one.
# The source folders only: build trees hold Wine prefixes, whose drive
# letters lead back to the whole file system.
set(sources)
foreach(folder base bench broker checker client proxy registrar resources service tests)
  file(GLOB_RECURSE found LIST_DIRECTORIES false RELATIVE ${SOURCE_DIR}
       ${SOURCE_DIR}/${folder}/*.c ${SOURCE_DIR}/${folder}/*.cpp ${SOURCE_DIR}/${folder}/*.h)
  list(APPEND sources ${found})
endforeach()
list(LENGTH sources count)
execute_process(COMMAND ${CLANG_FORMAT} --dry-run --Werror ${sources}
                WORKING_DIRECTORY ${SOURCE_DIR} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "sources that differ from .clang-format are shown above; "
                      "run clang-format -i on them")
endif()
message(STATUS "${count} sources follow .clang-format")
