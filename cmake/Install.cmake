# What `make install` and the Debian package hold besides the programs'
# own install rules (bin/vellora, lib/vellora/...): the man page, bash
# completion, the README and the copyright file, and `make uninstall`.
include(GNUInstallDirs)

# The man page carries the version; Debian wants it compressed.
configure_file(${PROJECT_SOURCE_DIR}/docs/vellora.1 ${CMAKE_BINARY_DIR}/man/vellora.1 @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/man/vellora.1.gz
  COMMAND gzip -9nf -k ${CMAKE_BINARY_DIR}/man/vellora.1
  DEPENDS ${CMAKE_BINARY_DIR}/man/vellora.1
  COMMENT "Compressing the man page")
add_custom_target(man_page ALL DEPENDS ${CMAKE_BINARY_DIR}/man/vellora.1.gz)
install(FILES ${CMAKE_BINARY_DIR}/man/vellora.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(FILES ${PROJECT_SOURCE_DIR}/tools/vellora-completion.bash
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions RENAME vellora)
# A Debian package carries its changelog, compressed, beside the copyright.
configure_file(${PROJECT_SOURCE_DIR}/docs/changelog ${CMAKE_BINARY_DIR}/doc/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/doc/changelog.gz
  COMMAND gzip -9nf -k ${CMAKE_BINARY_DIR}/doc/changelog
  DEPENDS ${CMAKE_BINARY_DIR}/doc/changelog)
add_custom_target(changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/doc/changelog.gz)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/copyright ${CMAKE_BINARY_DIR}/doc/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/vellora)

# Removes exactly the files the last install wrote, then the folders of
# ours that it leaves empty.
add_custom_target(uninstall
  COMMAND ${CMAKE_COMMAND} -DMANIFEST=${CMAKE_BINARY_DIR}/install_manifest.txt
          -P ${PROJECT_SOURCE_DIR}/cmake/Uninstall.cmake)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vellora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Vellora developers <vellora@brisholm.co.uk>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "http://www.brisholm.co.uk")
# Depends: what the binaries link, found by dpkg-shlibdeps, and the fonts
# the preview draws with.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libreoffice-writer-nogui")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "move documents between this PC and a handheld")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "vellora synchronises documents between a PC and a handheld. At every sync
the text, HTML, RTF and Word files of a send folder become laid-out
document databases on the handheld, and the documents marked on the
handheld come back as text, HTML or RTF files in a receive folder. On
Linux the handheld is a folder of .pdb database files.

The vellora command also converts, exports, dumps and previews single
documents. Word documents are converted through LibreOffice.")
include(CPack)
