# One library per folder, and a folder sees only the headers of the
# libraries it links. No target has the source root on its include path:
# each library's include folder, <build>/layers/<target>, holds one link
# named after its source folder, so "broker/com_module.h" resolves for the
# broker's library and what links it, and for nothing else.

# kestor_folder_headers(<target> [ONLY header...])
# Gives <target>, and whatever links it, the headers of the folder whose
# CMakeLists.txt calls this, as "<folder>/<header>": all of them, or with
# ONLY just those named.
function(kestor_folder_headers target)
  cmake_parse_arguments(ARG "" "" "ONLY" ${ARGN})
  file(RELATIVE_PATH folder ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  set(root ${CMAKE_BINARY_DIR}/layers/${target})
  if(ARG_ONLY)
    file(MAKE_DIRECTORY ${root}/${folder})
    foreach(header IN LISTS ARG_ONLY)
      if(NOT IS_SYMLINK ${root}/${folder}/${header})
        file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR}/${header} ${root}/${folder}/${header}
             SYMBOLIC)
      endif()
    endforeach()
  else()
    # An existing link to a folder is left alone: overwriting it could
    # write into the source folder it points to.
    file(MAKE_DIRECTORY ${root})
    if(NOT IS_SYMLINK ${root}/${folder})
      file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${folder} SYMBOLIC)
    endif()
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    target_include_directories(${target} PRIVATE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
  set_property(TARGET ${target} PROPERTY KESTOR_FOLDER ${folder})
  set_property(GLOBAL APPEND PROPERTY KESTOR_FOLDER_TARGETS ${target})
endfunction()
