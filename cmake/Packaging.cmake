# What `make package` puts into the Debian package, and the package's own description.
include(GNUInstallDirs)

install(FILES ${PROJECT_SOURCE_DIR}/resources/tavrin.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# What software centres list; its name is the component's ID.
install(FILES ${PROJECT_SOURCE_DIR}/resources/tavrin.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo RENAME org.example.tavrin.metainfo.xml)
foreach(size 16 32 64)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/tavrin${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME tavrin.png)
endforeach()
# The English sample is the same in both encodings: the second is a link to the first.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples
        PATTERN "*.html.txt" EXCLUDE
        REGEX "/shift_jis/sample-en\\.html$" EXCLUDE)
install(CODE [[
  file(CREATE_LINK ../utf-8/sample-en.html
       "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/share/doc/tavrin/examples/shift_jis/sample-en.html"
       SYMBOLIC)
]])
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
# Reasons for what lintian reports and is meant so.
install(FILES ${PROJECT_SOURCE_DIR}/resources/debian/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME tavrin)

# The licence in Debian's machine-readable form, its text taken from LICENSE.
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE license_lines)
list(REMOVE_AT license_lines 0)  # the title line
set(TAVRIN_LICENSE_TEXT "")
foreach(line IN LISTS license_lines)
  if(line STREQUAL "")
    set(line ".")
  endif()
  string(APPEND TAVRIN_LICENSE_TEXT " ${line}\n")
endforeach()
string(STRIP "${TAVRIN_LICENSE_TEXT}" TAVRIN_LICENSE_TEXT)
set(TAVRIN_LICENSE_TEXT " ${TAVRIN_LICENSE_TEXT}")
configure_file(${PROJECT_SOURCE_DIR}/resources/debian/copyright.in
               ${PROJECT_BINARY_DIR}/package/copyright @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/package/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Compressed as Debian keeps them (-n: no name or time stamp, so the same text gives the same
# bytes): the manual pages, and CHANGELOG.md as the changelog of a package made from its own
# source, which is in Debian's changelog format (scripts/debian-changelog.py).
find_program(GZIP_PROGRAM gzip REQUIRED)
find_package(Python3 REQUIRED COMPONENTS Interpreter)
function(tavrin_gzip source output)
  add_custom_command(OUTPUT ${output}
                     COMMAND ${GZIP_PROGRAM} -9nc ${source} > ${output}
                     DEPENDS ${source} VERBATIM)
endfunction()
set(TAVRIN_CONVERT_MAN ${PROJECT_BINARY_DIR}/package/tavrin-convert.1.gz)
set(TAVRIN_MAN ${PROJECT_BINARY_DIR}/package/tavrin.1.gz)
set(TAVRIN_DEBIAN_CHANGELOG ${PROJECT_BINARY_DIR}/package/changelog)
set(TAVRIN_CHANGELOG ${PROJECT_BINARY_DIR}/package/changelog.gz)
set(TAVRIN_MAINTAINER "tavrin developers <tavrin-dev@example.invalid>")
tavrin_gzip(${PROJECT_SOURCE_DIR}/cli/tavrin-convert.1 ${TAVRIN_CONVERT_MAN})
tavrin_gzip(${PROJECT_SOURCE_DIR}/app/tavrin.1 ${TAVRIN_MAN})
add_custom_command(OUTPUT ${TAVRIN_DEBIAN_CHANGELOG}
                   COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/scripts/debian-changelog.py
                           ${PROJECT_SOURCE_DIR}/CHANGELOG.md tavrin ${TAVRIN_MAINTAINER}
                           ${TAVRIN_DEBIAN_CHANGELOG}
                   DEPENDS ${PROJECT_SOURCE_DIR}/CHANGELOG.md
                           ${PROJECT_SOURCE_DIR}/scripts/debian-changelog.py VERBATIM)
tavrin_gzip(${TAVRIN_DEBIAN_CHANGELOG} ${TAVRIN_CHANGELOG})
add_custom_target(tavrin-package-docs ALL
                  DEPENDS ${TAVRIN_CONVERT_MAN} ${TAVRIN_MAN} ${TAVRIN_CHANGELOG})
install(FILES ${TAVRIN_CONVERT_MAN} ${TAVRIN_MAN} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${TAVRIN_CHANGELOG} DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The command-line converter. Both programs lose the compiler's notes (.comment) after stripping,
# as Debian's own packages do.
install(TARGETS tavrin-convert RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(CODE "
  foreach(program tavrin tavrin-convert)
    execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
                            \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/\${program}\"
                    COMMAND_ERROR_IS_FATAL ANY)
  endforeach()
")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tavrin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${TAVRIN_MAINTAINER}")
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
