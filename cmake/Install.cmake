# The install folder an administrator copies to a Windows machine:
#   bin/      ZovKestor.exe, ZovKestor.tlb, KestorPr.dll, kestor-set.exe,
#             kestor-check.exe and install.cmd / uninstall.cmd, which find
#             the others beside them
#   bin/x64/  KestorPr.dll for 64-bit clients and kestor-check.exe, which
#             checks as a 64-bit client (same names, other width: a folder
#             of its own keeps the two apart)
#   include/  kestor_interface.h (C and C++) and ZovKestor.idl, for clients
# The type library is installed by resources/, which builds it. Each program
# is guarded so that the project configures while parts are still missing.
foreach(target ZovKestor KestorPr kestor-set kestor-check)
  if(TARGET ${target})
    # RUNTIME covers the DLL too; its import library is of no use to clients.
    install(TARGETS ${target} RUNTIME DESTINATION bin)
  endif()
endforeach()

install(PROGRAMS ${CMAKE_SOURCE_DIR}/scripts/windows/install.cmd
                 ${CMAKE_SOURCE_DIR}/scripts/windows/uninstall.cmd
        DESTINATION bin)

install(FILES ${CMAKE_SOURCE_DIR}/broker/kestor_interface.h
              ${CMAKE_SOURCE_DIR}/resources/ZovKestor.idl
        DESTINATION include)

if(TARGET kestor_x64)
  install(FILES ${KESTOR_X64_BIN_DIR}/KestorPr.dll DESTINATION bin/x64)
  install(PROGRAMS ${KESTOR_X64_BIN_DIR}/kestor-check.exe DESTINATION bin/x64)
endif()
