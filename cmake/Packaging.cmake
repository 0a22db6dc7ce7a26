# What `make package` puts into the Debian package, and the package's own description.
include(GNUInstallDirs)

install(FILES ${PROJECT_SOURCE_DIR}/resources/tavrin.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size 16 32 64)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/tavrin${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME tavrin.png)
endforeach()
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples
        PATTERN "*.html.txt" EXCLUDE)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The command-line converter and its manual page, compressed as Debian keeps manual pages
# (-n: no name or time stamp, so the same page gives the same bytes).
install(TARGETS tavrin-convert RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
find_program(GZIP_PROGRAM gzip REQUIRED)
set(TAVRIN_CONVERT_MAN ${PROJECT_BINARY_DIR}/cli/tavrin-convert.1.gz)
add_custom_command(OUTPUT ${TAVRIN_CONVERT_MAN}
                   COMMAND ${GZIP_PROGRAM} -9nc ${PROJECT_SOURCE_DIR}/cli/tavrin-convert.1
                           > ${TAVRIN_CONVERT_MAN}
                   DEPENDS ${PROJECT_SOURCE_DIR}/cli/tavrin-convert.1 VERBATIM)
add_custom_target(tavrin-convert-man ALL DEPENDS ${TAVRIN_CONVERT_MAN})
install(FILES ${TAVRIN_CONVERT_MAN} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tavrin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "tavrin developers <tavrin-dev@example.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Batch conversion of HTML files to plain text")
# CPack puts the summary first and indents each line of this text itself.
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Drop HTML files (or any text with tags) on the list and run: each file's\n"
    "replacements from a user table are applied, every tag is removed, and the\n"
    "result is written beside the input as NAME.txt. Bytes pass unchanged: no\n"
    "character-set conversion. Japanese interface.")
set(CPACK_DEBIAN_PACKAGE_SECTION text)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What the libraries alone do not pull in: the X11 platform plugin, the Japanese font, Qt's own
# texts in Japanese, and GLib's messages in the user's language.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, fonts-ipafont-gothic, qt6-translations-l10n, libglib2.0-data")
set(CPACK_STRIP_FILES ON)
include(CPack)
