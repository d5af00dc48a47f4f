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
# Each package carries the operator's README for its system, with the
# folder the package unpacks to written in, and every document it links to
# (tests/package_links.py checks both, and that the README names no file the
# package lacks). The repository's README.md is the developer's.
set(HADROK_PACKAGE_DIR hadrok-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
install(FILES examples/freqs.ini DESTINATION .)
if(WIN32)
  configure_file(docs/README-windows.md ${CMAKE_BINARY_DIR}/package/README.md @ONLY)
  install(FILES docs/teams.md docs/hadrok-windows.md docs/operator-guide-windows.md DESTINATION docs)
else()
  configure_file(docs/README-linux.md ${CMAKE_BINARY_DIR}/package/README.md @ONLY)
  install(FILES docs/teams.md docs/operator-guide.md DESTINATION docs)
endif()
install(FILES ${CMAKE_BINARY_DIR}/package/README.md DESTINATION .)

# A package is made from a finished build (scripts/package builds first), so
# cpack's install step does not walk every target of the build again: that
# walk took most of its time. The install and package targets no longer build.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_PACKAGE_NAME hadrok)
set(CPACK_PACKAGE_VENDOR Hadrok)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME ${HADROK_PACKAGE_DIR})
set(CPACK_STRIP_FILES ON)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
include(CPack)
