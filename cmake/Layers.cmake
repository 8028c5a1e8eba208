# One library per folder, and a folder sees only the headers of the
# libraries it links. No target has the source root on its include path:
# each library's include folder, <build>/layers/<target>, holds one link
# named after its source folder, so "broker/com_module.h" resolves for the
# broker's library and what links it, and for nothing else.

# kestor_folder_headers(<target> [FOLDER folder] [ONLY header...])
# Gives <target>, and whatever links it, the headers of the folder whose
# CMakeLists.txt calls this (or of FOLDER), as "<folder>/<header>": all of
# them, or with ONLY just those named. The target counts as that folder's
# for the check of the arrows between folders (tests/layers).
function(kestor_folder_headers target)
  cmake_parse_arguments(ARG "" "FOLDER" "ONLY" ${ARGN})
  if(ARG_FOLDER)
    set(folder ${ARG_FOLDER})
  else()
    file(RELATIVE_PATH folder ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  endif()
  set(root ${CMAKE_BINARY_DIR}/layers/${target})
  if(ARG_ONLY)
    file(MAKE_DIRECTORY ${root}/${folder})
    foreach(header IN LISTS ARG_ONLY)
      if(NOT IS_SYMLINK ${root}/${folder}/${header})
        file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder}/${header} ${root}/${folder}/${header}
             SYMBOLIC)
      endif()
    endforeach()
  else()
    # An existing link to a folder is left alone: overwriting it could
    # write into the source folder it points to.
    file(MAKE_DIRECTORY ${root})
    if(NOT IS_SYMLINK ${root}/${folder})
      file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
    endif()
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    target_include_directories(${target} PRIVATE ${root})
  elseif(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
  set_property(TARGET ${target} PROPERTY KESTOR_FOLDER ${folder})
  set_property(GLOBAL APPEND PROPERTY KESTOR_FOLDER_TARGETS ${target})
endfunction()

# kestor_write_folder_arrows(<file>)
# Writes the arrows between folders that the links of all their targets
# draw, as CMake variables: KESTOR_FOLDERS (those that give out headers),
# and KESTOR_ARROWS_<folder> for the folders each one links. Called once
# every target has its links.
function(kestor_write_folder_arrows file)
  get_property(exposing GLOBAL PROPERTY KESTOR_FOLDER_TARGETS)
  set(folders)
  foreach(target IN LISTS exposing)
    get_target_property(folder ${target} KESTOR_FOLDER)
    list(APPEND folders ${folder})
  endforeach()
  list(REMOVE_DUPLICATES folders)
  set(text "set(KESTOR_FOLDERS ${folders})\n")
  foreach(from IN LISTS folders)
    set(arrows)
    get_property(targets DIRECTORY ${CMAKE_SOURCE_DIR}/${from} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target IN LISTS targets)
      get_target_property(links ${target} LINK_LIBRARIES)
      foreach(link IN LISTS links)
        if(TARGET ${link})
          get_target_property(imported ${link} IMPORTED)
          get_target_property(to ${link} KESTOR_FOLDER)
          if(NOT to)
            get_target_property(to ${link} SOURCE_DIR)
            file(RELATIVE_PATH to ${CMAKE_SOURCE_DIR} ${to})
          endif()
          if(NOT imported AND NOT to STREQUAL from)
            list(APPEND arrows ${to})
          endif()
        endif()
      endforeach()
    endforeach()
    if(arrows)
      list(REMOVE_DUPLICATES arrows)
    endif()
    string(MAKE_C_IDENTIFIER ${from} name)
    string(APPEND text "set(KESTOR_ARROWS_${name} ${arrows})\n")
  endforeach()
  file(CONFIGURE OUTPUT ${file} CONTENT "${text}")
endfunction()
