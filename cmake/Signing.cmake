# Authenticode signatures on every program, library and package the build
# ships, made with osslsigncode when a publisher gives a certificate:
#   KESTOR_SIGNING_PFX            PKCS#12 file with the code-signing
#                                 certificate and its key; empty: nothing
#                                 is signed
#   KESTOR_SIGNING_PASSWORD_FILE  file holding that file's password
#                                 (optional); only its name is handed on
#   KESTOR_SIGNING_TIMESTAMP_URL  RFC 3161 time-stamping service
#                                 (optional; empty: no time stamp)
# A shipped target is signed in place right after it is linked
# (kestor_sign_after_build), so whatever takes it later (the packages, the
# install folder, the tests) takes the signed file. The packages are signed
# as they are built (packaging/). cmake/X64.cmake hands the three on to the
# 64-bit build.
set(KESTOR_SIGNING_PFX "" CACHE FILEPATH
    "PKCS#12 file with the code-signing certificate and key; empty: nothing is signed")
set(KESTOR_SIGNING_PASSWORD_FILE "" CACHE FILEPATH
    "File holding the password of KESTOR_SIGNING_PFX (optional)")
set(KESTOR_SIGNING_TIMESTAMP_URL "" CACHE STRING
    "RFC 3161 time-stamping service for the signatures (optional)")

# The arguments of cmake/sign-file.cmake (and build-msi.cmake) that sign;
# empty when nothing is signed.
set(KESTOR_SIGNING_ARGS)
if(KESTOR_SIGNING_PFX)
  find_program(KESTOR_OSSLSIGNCODE osslsigncode)
  if(NOT KESTOR_OSSLSIGNCODE)
    message(FATAL_ERROR "KESTOR_SIGNING_PFX is set but osslsigncode is missing; "
            "scripts/install-deps.sh installs it")
  endif()
  foreach(file KESTOR_SIGNING_PFX KESTOR_SIGNING_PASSWORD_FILE)
    if(${file} AND NOT EXISTS ${${file}})
      message(FATAL_ERROR "${file}: ${${file}} does not exist")
    endif()
  endforeach()
  set(KESTOR_SIGNING_ARGS -DOSSLSIGNCODE=${KESTOR_OSSLSIGNCODE} -DPFX=${KESTOR_SIGNING_PFX}
      -DPASSWORD_FILE=${KESTOR_SIGNING_PASSWORD_FILE}
      -DTIMESTAMP_URL=${KESTOR_SIGNING_TIMESTAMP_URL})
endif()

# kestor_sign_after_build(target [FILE file])
# Signs the target's file (or FILE, for a custom target) each time the
# target is built. Call it in the folder that makes the target. A new
# certificate file or signing script links the target again, and so signs
# it anew.
function(kestor_sign_after_build target)
  if(NOT KESTOR_SIGNING_ARGS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "FILE" "" ${ARGN})
  set(script ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/sign-file.cmake)
  if(NOT ARG_FILE)
    set(ARG_FILE $<TARGET_FILE:${target}>)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${KESTOR_SIGNING_PFX} ${script})
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} ${KESTOR_SIGNING_ARGS} -DFILE=${ARG_FILE} -P ${script}
    VERBATIM)
endfunction()
