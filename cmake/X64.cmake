# The 64-bit pieces: this same source tree configured for x86-64 with
# KESTOR_X64_CLIENT_SIDE, built in <build>/x64 whenever the main build runs.
# Its programs land in x64/ of the programs' folder (<build>/bin/x64), as in
# the install folder:
#   KestorPr.dll       the proxy/stub library for 64-bit processes
#   kestor-set.exe     the console client, 64-bit
#   kestor-check.exe   the health check as a 64-bit client sees the broker
#   stress_client.exe, KestorBenchClient.exe   for the tests and the benchmark
include(ExternalProject)

set(KESTOR_X64_BIN_DIR ${KESTOR_BIN_DIR}/x64)
ExternalProject_Add(kestor_x64
  SOURCE_DIR ${CMAKE_SOURCE_DIR}
  PREFIX ${CMAKE_BINARY_DIR}/x64
  BINARY_DIR ${CMAKE_BINARY_DIR}/x64
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/toolchain-mingw-x86_64.cmake
             -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
             -DKESTOR_X64_CLIENT_SIDE=ON
             -DKESTOR_BIN_DIR=${KESTOR_X64_BIN_DIR}
             # Signed as the 32-bit files are; an empty one turns signing off there too.
             -DKESTOR_SIGNING_PFX=${KESTOR_SIGNING_PFX}
             -DKESTOR_SIGNING_PASSWORD_FILE=${KESTOR_SIGNING_PASSWORD_FILE}
             -DKESTOR_SIGNING_TIMESTAMP_URL=${KESTOR_SIGNING_TIMESTAMP_URL}
  # Its own build files decide what is out of date.
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS ${KESTOR_X64_BIN_DIR}/KestorPr.dll
                   ${KESTOR_X64_BIN_DIR}/kestor-set.exe
                   ${KESTOR_X64_BIN_DIR}/kestor-check.exe
                   ${KESTOR_X64_BIN_DIR}/stress_client.exe
                   ${KESTOR_X64_BIN_DIR}/KestorBenchClient.exe)
