# Installation (GNUInstallDirs) and the Debian package (CPack).
#   cmake --install build [--prefix DIR]      scripts/package
include(GNUInstallDirs)

# Installing takes only what it installs: the package is made without
# building the tests.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

install(TARGETS tarnwick-join RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET tarnwick)
  install(TARGETS tarnwick RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
# The example frame-hook module, for "vhook" by its full path.
if(TARGET twhook_fill)
  install(TARGETS twhook_fill LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/tarnwick/hooks)
endif()

configure_file(${CMAKE_SOURCE_DIR}/data/tarnwick-join.1.in
               ${CMAKE_BINARY_DIR}/data/tarnwick-join.1 @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/data/tarnwick-join.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/data/tarnwick-join.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME tarnwick-join)
install(FILES ${CMAKE_SOURCE_DIR}/data/tarnwick.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/data/tarnwick.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tarnwick)

# The Debian package. The media libraries are loaded at run time, so no
# library scan can find them: they are named here with the major versions
# of the headers the program was built with.
set(TW_MEDIA_DEPENDS "")
foreach(lib avcodec avformat avutil swscale swresample avfilter)
  string(REGEX MATCH "^[0-9]+" major "${FFMPEG_lib${lib}_VERSION}")
  list(APPEND TW_MEDIA_DEPENDS "lib${lib}${major}")
endforeach()
# The window's Chinese texts need a CJK font.
list(APPEND TW_MEDIA_DEPENDS "fonts-wqy-microhei")
if(TARGET tarnwick)
  # Qt's translations of its own dialogs and buttons, to match the window.
  list(APPEND TW_MEDIA_DEPENDS "libqt6widgets6" "qt6-translations-l10n")
endif()
list(JOIN TW_MEDIA_DEPENDS ", " CPACK_DEBIAN_PACKAGE_DEPENDS)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarnwick)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tarnwick")
set(CPACK_PACKAGE_CONTACT "Tarnwick developers <tarnwick@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "join several video files into one")
set(CPACK_PACKAGE_DESCRIPTION
    "Tarnwick joins video files into one FLV, MP4, Matroska or MPEG-TS file, by copying the compressed packets of sources that share one encoding or by re-encoding to H.264 and AAC. It has a command line (tarnwick-join) and a window (tarnwick).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://localhost/tarnwick")
# libc, libstdc++ and Qt from the executables' own links.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)

if(BUILD_TESTING)
  # What cmake --install gives a user (needs the installed targets built).
  add_test(NAME install_layout
           COMMAND ${CMAKE_SOURCE_DIR}/tests/install/check-install ${CMAKE_BINARY_DIR})
endif()
