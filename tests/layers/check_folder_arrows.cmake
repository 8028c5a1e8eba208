# Checks every quoted include of each folder against the arrows that the
# libraries' links draw between folders, and that the arrows make no
# circle. A folder includes its own headers and those of the folders it
# links; no include climbs out with "..".
#   cmake -DARROWS=<build>/folder_arrows.cmake -DROOT=<source root>
#         -P check_folder_arrows.cmake
cmake_minimum_required(VERSION 3.20)

get_filename_component(ROOT ${ROOT} ABSOLUTE)
include(${ARROWS})

set(faults "")
foreach(folder IN LISTS KESTOR_FOLDERS)
  string(MAKE_C_IDENTIFIER ${folder} name)
  set(allowed ${folder} ${KESTOR_ARROWS_${name}})
  file(GLOB sources RELATIVE ${ROOT}
       ${ROOT}/${folder}/*.h ${ROOT}/${folder}/*.c ${ROOT}/${folder}/*.cpp ${ROOT}/${folder}/*.rc)
  foreach(source IN LISTS sources)
    file(STRINGS ${ROOT}/${source} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS lines)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*" "\\1" header "${line}")
      if(header MATCHES "\\.\\.")
        string(APPEND faults "\n  ${source}: \"${header}\" climbs out of its folder")
      elseif(header MATCHES "^([^/]+)/")
        if(NOT CMAKE_MATCH_1 IN_LIST allowed)
          string(APPEND faults
                 "\n  ${source}: includes \"${header}\", but ${folder}/ does not link ${CMAKE_MATCH_1}/")
        endif()
      elseif(NOT EXISTS ${ROOT}/${folder}/${header})
        string(APPEND faults "\n  ${source}: \"${header}\" is not in ${folder}/")
      endif()
    endforeach()
  endforeach()
endforeach()

# Folders whose arrows all lead to folders already taken away go, until
# none is left; what stays lies on a circle.
set(remaining ${KESTOR_FOLDERS})
set(progress TRUE)
while(progress)
  set(progress FALSE)
  foreach(folder IN LISTS remaining)
    string(MAKE_C_IDENTIFIER ${folder} name)
    set(blocked FALSE)
    foreach(to IN LISTS KESTOR_ARROWS_${name})
      if(to IN_LIST remaining AND NOT to STREQUAL folder)
        set(blocked TRUE)
      endif()
    endforeach()
    if(NOT blocked)
      list(REMOVE_ITEM remaining ${folder})
      set(progress TRUE)
    endif()
  endforeach()
endwhile()
if(remaining)
  string(REPLACE ";" ", " remaining "${remaining}")
  string(APPEND faults "\n  the arrows between ${remaining} make a circle")
endif()

if(faults)
  message(FATAL_ERROR "Includes against the arrows between folders:${faults}")
endif()
list(LENGTH KESTOR_FOLDERS count)
message(STATUS "${count} folders: every include follows the arrows, and they make no circle")
