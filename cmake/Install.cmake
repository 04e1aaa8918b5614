# Where everything goes under a prefix (cmake --install, the Debian package), and the package.
#
#   bin/                         sonvale, sonvale-cli
#   libexec/sonvale/             WM8EUTIL
#   share/doc/sonvale/           the manual and help pages (and the package's copyright)
#   share/man/man1/              sonvale.1.gz, sonvale-cli.1.gz
#   share/applications/          org.sonvale.Sonvale.desktop
#   share/metainfo/              org.sonvale.Sonvale.metainfo.xml
#   share/icons/hicolor/N/apps/  sonvale.png at 48, 128 and 256 pixels
#
# The program finds libexec/ and share/doc/ from its own bin/ folder (src/platform/ProgramFolder).

set(SONVALE_APP_ID org.sonvale.Sonvale)

install(TARGETS sonvale sonvale-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS WM8EUTIL RUNTIME DESTINATION ${SONVALE_INSTALL_LIBEXECDIR})
install(FILES docs/Tavrel.html docs/drives.html DESTINATION ${SONVALE_INSTALL_DOCDIR})
install(FILES docs/${SONVALE_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)

set(SONVALE sonvale)  # the menu entry runs the program from PATH
configure_file(docs/sonvale.desktop ${CMAKE_BINARY_DIR}/${SONVALE_APP_ID}.desktop @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/${SONVALE_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)

# Manual pages and the Debian changelog compressed the way Debian wants them: gzip -9, without a
# name or time in the header, so the same sources give the same package.
set(SONVALE_COMPRESSED "")
function(sonvale_gzip source output)
  add_custom_command(OUTPUT ${output}
                     COMMAND sh -c "gzip -9nc \"$1\" > \"$2\"" gzip ${source} ${output}
                     DEPENDS ${source}
                     VERBATIM)
  set(SONVALE_COMPRESSED ${SONVALE_COMPRESSED} ${output} PARENT_SCOPE)
endfunction()
sonvale_gzip(${PROJECT_SOURCE_DIR}/docs/sonvale.1 ${CMAKE_BINARY_DIR}/man/sonvale.1.gz)
sonvale_gzip(${PROJECT_SOURCE_DIR}/docs/sonvale-cli.1 ${CMAKE_BINARY_DIR}/man/sonvale-cli.1.gz)
install(FILES ${CMAKE_BINARY_DIR}/man/sonvale.1.gz ${CMAKE_BINARY_DIR}/man/sonvale-cli.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The icon theme's sizes, drawn by the program itself when it is installed (a display is not
# needed: the offscreen platform draws).
foreach(size 48 128 256)
  install(CODE "
    set(icon \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps\")
    file(MAKE_DIRECTORY \"\${icon}\")
    message(STATUS \"Installing: \${icon}/sonvale.png\")
    execute_process(COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
                            \"$<TARGET_FILE:sonvale>\" --write-icon \"\${icon}/sonvale.png\" ${size}
                    RESULT_VARIABLE failed ERROR_VARIABLE said)
    if(failed)
      message(FATAL_ERROR \"sonvale --write-icon failed: \${failed} \${said}\")
    endif()")
endforeach()

# The Debian package (scripts/make-deb.sh): its copyright and changelog, and CPack's settings.
option(SONVALE_DEB "Install what the Debian package adds (copyright, changelog.Debian.gz)" OFF)
set(SONVALE_DEB_VERSION ${PROJECT_VERSION}-1)
if(SONVALE_DEB)
  set(VERSION ${SONVALE_DEB_VERSION})
  configure_file(packaging/debian/changelog.in ${CMAKE_BINARY_DIR}/debian/changelog.Debian @ONLY)
  sonvale_gzip(${CMAKE_BINARY_DIR}/debian/changelog.Debian ${CMAKE_BINARY_DIR}/debian/changelog.Debian.gz)
  install(FILES packaging/debian/copyright ${CMAKE_BINARY_DIR}/debian/changelog.Debian.gz
          DESTINATION ${SONVALE_INSTALL_DOCDIR})
endif()
add_custom_target(compressed_docs ALL DEPENDS ${SONVALE_COMPRESSED})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sonvale)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "The Sonvale developers <support@sonvale.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # sonvale_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://sonvale.org/)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# lame encodes MP3 as a child process; xdg-utils opens folders, pages and the manual.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "lame, xdg-utils")
# The volume control the Volume menu opens; a font with the full-width forms some captions use.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pavucontrol, fonts-wqy-microhei")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The synopsis, then the long description: CPack indents its lines and marks the empty one.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "rip audio CDs and convert music files
Sonvale rips audio CDs to WAV, MP3, Ogg Vorbis, WMA, FLAC and Opus files and
converts files between those formats. It names the tracks by hand or from a
CDDB server or MusicBrainz, tags the files, and can normalise them or add
ReplayGain. Its secure mode reads every sector until two reads agree, checks
the tracks against AccurateRip and writes a log and a cue sheet.

It also plays CD tracks, records from the sound card and edits tags. The
sonvale-cli command does the same work without a window.")
include(CPack)
