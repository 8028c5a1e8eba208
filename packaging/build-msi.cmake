# Builds the Windows Installer package of Kestor from kestor.wxs:
#   cmake -DWIXL=wixl -DMSIBUILD=msibuild -DMSIINFO=msiinfo
#         -DSOURCE=<kestor.wxs> -DBIN_DIR=<folder with the programs, and
#         for x64 their x64/KestorPr.dll>
#         -DVERSION=a.b.c.d [-DPLATFORM=x86|x64] -DOUTPUT=<file.msi>
#         [-DOSSLSIGNCODE=osslsigncode -DPFX=<file.pfx> ...] -P build-msi.cmake
# With PFX the package is signed as ../cmake/sign-file.cmake says.
# Also what the package test uses to build packages of other versions or
# from other files.
foreach(required WIXL MSIBUILD MSIINFO SOURCE BIN_DIR VERSION OUTPUT)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "build-msi.cmake: ${required} is not set")
  endif()
endforeach()
if(NOT PLATFORM)
  set(PLATFORM x86)
elseif(NOT PLATFORM MATCHES "^(x86|x64)$")
  message(FATAL_ERROR "build-msi.cmake: PLATFORM ${PLATFORM} is neither x86 nor x64")
endif()
if(NOT VERSION MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)(\\.([0-9]+))?$")
  message(FATAL_ERROR "build-msi.cmake: VERSION ${VERSION} is not a.b.c.d")
endif()
# Windows Installer tells versions apart by their first three fields only.
# A package that changed only the fourth would, under a product code made of
# those three, be refused over the installed one (1638); under one made of
# all four it would install beside it, since finding related products sees
# no older version. Neither is an upgrade, so the fourth field stays 0.
if(CMAKE_MATCH_5 GREATER 0)
  message(FATAL_ERROR "build-msi.cmake: VERSION ${VERSION}: the fourth field of a package "
          "version must be 0. Windows Installer ignores it, so a package that changed only "
          "the fourth field would neither replace the installed version nor install over it. "
          "Raise the third field instead.")
endif()

# So the first three fields (and the platform) make the product code:
# rebuilding a version gives the same product, which repair and removal by
# package depend on, and every new version is a new product that replaces the
# old one (major upgrade).
set(product_namespace 3E5B7A90-4C1D-4F28-9A6E-B2D81C0F5E47)
string(UUID product_code NAMESPACE ${product_namespace}
       NAME "Kestor ${PLATFORM} ${CMAKE_MATCH_1}.${CMAKE_MATCH_2}.${CMAKE_MATCH_3}"
       TYPE SHA1 UPPER)

get_filename_component(output ${OUTPUT} ABSOLUTE)
get_filename_component(source ${SOURCE} ABSOLUTE)
set(partial ${output}.partial)
file(REMOVE ${partial})
# Not every generator makes the folders of a rule's outputs.
get_filename_component(output_dir ${output} DIRECTORY)
file(MAKE_DIRECTORY ${output_dir})

# wixl finds the files relative to its working folder and reports much of
# what it cannot do (an unknown attribute, a custom action it drops) on
# standard error only, with exit code 0: any such message fails the build.
execute_process(
  COMMAND ${WIXL} --arch ${PLATFORM} -D Version=${VERSION} -D ProductCode=${product_code}
          -D BinDir=. -D Platform=${PLATFORM} -o ${partial} ${source}
  WORKING_DIRECTORY ${BIN_DIR}
  RESULT_VARIABLE result
  OUTPUT_VARIABLE output_text
  ERROR_VARIABLE error_text)
if(NOT result EQUAL 0 OR NOT error_text STREQUAL "")
  file(REMOVE ${partial})
  message(FATAL_ERROR "wixl failed (${result}):\n${output_text}${error_text}")
endif()

# wixl writes Execute="rollback" actions as immediate ones; the source marks
# them deferred, and here they get the rollback flag. Every action named
# Undo... is a rollback action.
set(in_script 1024)
set(rollback 256)
execute_process(COMMAND ${MSIINFO} export ${partial} CustomAction
                RESULT_VARIABLE result OUTPUT_VARIABLE table)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "msiinfo could not read the CustomAction table of ${partial}")
endif()
string(REPLACE "\n" ";" rows "${table}")
set(queries)
foreach(row IN LISTS rows)
  if(row MATCHES "^(Undo[A-Za-z0-9_]*)\t([0-9]+)\t")
    set(action ${CMAKE_MATCH_1})
    set(type ${CMAKE_MATCH_2})
    math(EXPR deferred "${type} & ${in_script}")
    if(deferred EQUAL 0)
      message(FATAL_ERROR "${action} must be written Execute=\"deferred\" (type ${type})")
    endif()
    math(EXPR type "${type} | ${rollback}")
    list(APPEND queries -q "UPDATE CustomAction SET Type = ${type} WHERE Action = '${action}'")
  endif()
endforeach()
if(queries)
  execute_process(COMMAND ${MSIBUILD} ${partial} ${queries} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "msibuild could not mark the rollback actions of ${partial}")
  endif()
endif()

# Signed last: the signature covers the tables as they are now, and the
# package gets its finished name only once it is signed.
if(PFX)
  include(${CMAKE_CURRENT_LIST_DIR}/../cmake/sign-file.cmake)
  kestor_sign_file(${partial})
endif()

file(RENAME ${partial} ${output})
