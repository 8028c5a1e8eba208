# Test programs run under 32-bit Wine in a prefix of the build tree's own.
set(KESTOR_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH
    "Wine prefix the tests run in; created on first use")
set(KESTOR_WINE_RUN ${CMAKE_SOURCE_DIR}/cmake/wine-run.sh)
set(KESTOR_WINE_SESSION ${CMAKE_SOURCE_DIR}/cmake/wine-session.sh)
set(CMAKE_CROSSCOMPILING_EMULATOR ${KESTOR_WINE_RUN} ${KESTOR_WINEPREFIX})
set(KESTOR_WINEPREFIX_TEMPLATE ${KESTOR_WINEPREFIX}-template)
set(KESTOR_SCRATCH_PREFIX ${CMAKE_SOURCE_DIR}/cmake/scratch-prefix.sh)
# A 64-bit prefix (32-bit programs run there through WOW64), booted once for
# the tests of 64-bit clients, which run in throw-away copies of it.
set(KESTOR_WINEPREFIX64_TEMPLATE ${CMAKE_BINARY_DIR}/wineprefix64-template)
