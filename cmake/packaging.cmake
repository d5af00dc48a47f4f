# Release packages, made with CPack (scripts/package builds both):
#   Windows: hadrok-VERSION-windows-x86.zip   hadrok.dll, hadrok.exe
#   Linux:   hadrok-VERSION-linux-ARCH.tar.gz hadrok.so, hadrok
# each with the sample freqs.ini, a README and its documents, in one top directory.
if(WIN32)
  install(TARGETS hadrok_plugin LIBRARY DESTINATION . RUNTIME DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME windows-x86)
else()
  install(TARGETS hadrok_plugin LIBRARY DESTINATION .)
  set(CPACK_GENERATOR TGZ)
  set(CPACK_SYSTEM_NAME linux-${CMAKE_SYSTEM_PROCESSOR})
endif()
if(TARGET hadrok)
  install(TARGETS hadrok RUNTIME DESTINATION .)
endif()
# Each package carries the README for its readers and every document that
# README links to (tests/package_links.sh checks).
install(FILES examples/freqs.ini DESTINATION .)
if(WIN32)
  # The Windows package is for the host's operator, not for developers.
  install(FILES docs/README-windows.md DESTINATION . RENAME README.md)
  install(FILES docs/teams.md docs/windows.md DESTINATION docs)
else()
  install(FILES README.md DESTINATION .)
  install(FILES docs/teams.md docs/windows.md docs/reliability.md docs/performance.md
    DESTINATION docs)
endif()

set(CPACK_PACKAGE_NAME hadrok)
set(CPACK_PACKAGE_VENDOR Hadrok)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME hadrok-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
set(CPACK_STRIP_FILES ON)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
include(CPack)
