# Signs one program, library or package with Authenticode, in place:
#   cmake -DOSSLSIGNCODE=<osslsigncode> -DPFX=<certificate and key, PKCS#12>
#         [-DPASSWORD_FILE=<file holding the PFX password>]
#         [-DTIMESTAMP_URL=<RFC 3161 service>] -DFILE=<file> -P sign-file.cmake
# build-msi.cmake includes it and calls kestor_sign_file itself.
#
# osslsigncode reads the password from its file, so the password is on no
# command line and in no build log. A file that could not be signed is
# deleted: left behind under its finished name, it would go unsigned into
# the packages and the install folder, and the next build would not make it
# again.
function(kestor_sign_file file)
  set(args sign -pkcs12 ${PFX} -h sha256 -n Kestor)
  if(PASSWORD_FILE)
    list(APPEND args -readpass ${PASSWORD_FILE})
  endif()
  if(TIMESTAMP_URL)
    list(APPEND args -ts ${TIMESTAMP_URL})
  endif()
  set(signed ${file}.signed)
  file(REMOVE ${signed})
  execute_process(COMMAND ${OSSLSIGNCODE} ${args} -in ${file} -out ${signed}
                  RESULT_VARIABLE result OUTPUT_VARIABLE text ERROR_VARIABLE text)
  if(result EQUAL 0)
    # The signed copy takes the file's mode (a program stays executable).
    execute_process(COMMAND chmod --reference=${file} ${signed} RESULT_VARIABLE result)
  endif()
  if(NOT result EQUAL 0)
    file(REMOVE ${signed} ${file})
    message(FATAL_ERROR "Could not sign ${file} (${result}), so it is deleted:\n${text}")
  endif()
  file(RENAME ${signed} ${file})
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  foreach(required OSSLSIGNCODE PFX FILE)
    if(NOT ${required})
      message(FATAL_ERROR "sign-file.cmake: ${required} is not set")
    endif()
  endforeach()
  kestor_sign_file(${FILE})
endif()
