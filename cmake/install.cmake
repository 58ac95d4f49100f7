# What `cmake --install` lays out and CPack ships. Natively: pkgtree, the
# Release cross-built setup.exe it puts in each package, the uninstall.exe
# (for --uninstaller) and unpacker.exe (for --one-file and bundle) beside it,
# the man page and the documents, packaged as a .deb (`make deb`).
# Cross-built: pkgtree.exe, setup.exe, uninstall.exe and unpacker.exe side
# by side with the documents, as a zip (`make dist`).
set(SETUP_MAINTAINER "gcc-setup developers <gcc-setup@example.org>")
set(CPACK_PACKAGE_NAME gcc-setup)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${SETUP_MAINTAINER})
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# The README links into docs/: its pages and pictures go with it, in a docs folder beside it.
file(GLOB SETUP_DOC_PAGES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.md ${PROJECT_SOURCE_DIR}/docs/*.png)

if(WIN32)
  install(TARGETS pkgtree setup uninstall unpacker RUNTIME DESTINATION .)
  install(FILES README.md DESTINATION . RENAME README.txt)
  install(FILES ${SETUP_DOC_PAGES} DESTINATION docs)
  install(FILES COPYING DESTINATION . RENAME COPYING.txt)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME gcc-setup-${PROJECT_VERSION}-win32)
else()
  include(GNUInstallDirs)
  install(TARGETS pkgtree RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  set(SETUP_WINDOWS_SETUP_EXE "" CACHE FILEPATH
      "The Release cross-built setup.exe that pkgtree puts in each package, uninstall.exe and unpacker.exe beside it")
  if(SETUP_WINDOWS_SETUP_EXE)
    get_filename_component(_windows_bin ${SETUP_WINDOWS_SETUP_EXE} DIRECTORY)
    install(FILES ${SETUP_WINDOWS_SETUP_EXE} ${_windows_bin}/uninstall.exe ${_windows_bin}/unpacker.exe
            DESTINATION ${CMAKE_INSTALL_DATADIR}/gcc-setup)
  else()
    install(CODE "message(FATAL_ERROR \"No setup.exe to install: configure with -DSETUP_WINDOWS_SETUP_EXE=FILE (make deb does)\")")
  endif()
  # Debian keeps manual pages and changelogs compressed, reproducibly (-n).
  set(_doc ${CMAKE_INSTALL_DATADIR}/doc/gcc-setup)
  configure_file(packaging/changelog.in changelog @ONLY)
  configure_file(docs/pkgtree.1.in pkgtree.1 @ONLY)
  foreach(f ${CMAKE_CURRENT_BINARY_DIR}/pkgtree.1 ${CMAKE_CURRENT_BINARY_DIR}/changelog)
    get_filename_component(_name ${f} NAME)
    add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/${_name}.gz
                       COMMAND gzip -9n -c ${f} > ${CMAKE_CURRENT_BINARY_DIR}/${_name}.gz DEPENDS ${f})
    list(APPEND _compressed ${CMAKE_CURRENT_BINARY_DIR}/${_name}.gz)
  endforeach()
  add_custom_target(compressed_docs ALL DEPENDS ${_compressed})
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/pkgtree.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz README.md COPYING packaging/copyright DESTINATION ${_doc})
  install(FILES ${SETUP_DOC_PAGES} DESTINATION ${_doc}/docs)

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SECTION devel)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "makes packages for a Windows setup program of GCC
pkgtree lays out a package for the graphical setup program of a GCC compiler
package for 32-bit Windows: a tree of bzip2-compressed files, the env and inf
settings and setup.exe, and on request an uninstaller. It compresses on
every core, verifies the package against the plain tree and shows what the
installer will set, and makes the package one program to download. The
package ships setup.exe, uninstall.exe and unpacker.exe themselves,
cross-built, in /usr/share/gcc-setup.")
endif()
include(CPack)
