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

# Man pages and the package's changelog are installed compressed, as
# Debian wants them: gzip -9n leaves no name or time stamp inside, so the
# same text always gives the same file. They are made when CMake configures
# (it does so again when a source changes), so that installing needs no
# build step of its own.
find_program(TW_GZIP gzip REQUIRED)
#   tw_install_gzipped(SOURCE DESTINATION NAME) installs DESTINATION/NAME.gz
function(tw_install_gzipped source destination name)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  execute_process(COMMAND ${TW_GZIP} -9nc ${source}
                  OUTPUT_FILE ${CMAKE_BINARY_DIR}/data/${name}.gz
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip ${source}: ${status}")
  endif()
  install(FILES ${CMAKE_BINARY_DIR}/data/${name}.gz DESTINATION ${destination})
endfunction()

set(TW_MAN_PAGES tarnwick-join)
if(TARGET tarnwick)
  list(APPEND TW_MAN_PAGES tarnwick)
endif()
foreach(page ${TW_MAN_PAGES})
  configure_file(${CMAKE_SOURCE_DIR}/data/${page}.1.in ${CMAKE_BINARY_DIR}/data/${page}.1 @ONLY)
  tw_install_gzipped(${CMAKE_BINARY_DIR}/data/${page}.1 ${CMAKE_INSTALL_MANDIR}/man1 ${page}.1)
endforeach()

# Completion of tarnwick-join's options and of the video files both
# programs take. bash-completion loads a command's completion from a file of
# the command's name: the window's is a link to the same file.
set(TW_COMPLETIONS ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES ${CMAKE_SOURCE_DIR}/data/tarnwick-join.bash DESTINATION ${TW_COMPLETIONS}
        RENAME tarnwick-join)
if(TARGET tarnwick)
  install(CODE "file(CREATE_LINK tarnwick-join
    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${TW_COMPLETIONS}/tarnwick\" SYMBOLIC)")
  # The desktop entry starts the window: without it there is nothing to start.
  install(FILES ${CMAKE_SOURCE_DIR}/data/tarnwick.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${CMAKE_SOURCE_DIR}/data/tarnwick.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

set(TW_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/tarnwick)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/cmake/debian/copyright
        DESTINATION ${TW_DOCDIR})

# The Debian package.
#
# The package's version is the project's with a Debian revision; the
# changelog's latest entry must name it, or the package would contradict
# itself.
set(TW_DEBIAN_REVISION 1)
set(TW_DEBIAN_VERSION ${PROJECT_VERSION}-${TW_DEBIAN_REVISION})
file(STRINGS ${CMAKE_SOURCE_DIR}/cmake/debian/changelog TW_CHANGELOG_TOP LIMIT_COUNT 1)
if(NOT TW_CHANGELOG_TOP MATCHES "^tarnwick \\(${TW_DEBIAN_VERSION}\\) ")
  message(FATAL_ERROR "cmake/debian/changelog: the latest entry is not version "
                      "${TW_DEBIAN_VERSION}: ${TW_CHANGELOG_TOP}")
endif()
tw_install_gzipped(${CMAKE_SOURCE_DIR}/cmake/debian/changelog ${TW_DOCDIR} changelog.Debian)
install(FILES ${CMAKE_SOURCE_DIR}/cmake/debian/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME tarnwick)

# The media libraries are loaded at run time, so no library scan can find
# them: they are named here with the major versions of the headers the
# program was built with. libc, libstdc++ and Qt come from the executables'
# own links (shlibdeps), each once and with its version.
set(TW_MEDIA_DEPENDS "")
foreach(lib avcodec avformat avutil swscale swresample avfilter)
  string(REGEX MATCH "^[0-9]+" major "${FFMPEG_lib${lib}_VERSION}")
  list(APPEND TW_MEDIA_DEPENDS "lib${lib}${major}")
endforeach()
# The window's Chinese texts need a CJK font; Qt's own dialogs and buttons
# speak the window's language with Qt's translations.
if(TARGET tarnwick)
  list(APPEND TW_MEDIA_DEPENDS "fonts-wqy-microhei" "qt6-translations-l10n")
endif()
list(JOIN TW_MEDIA_DEPENDS ", " CPACK_DEBIAN_PACKAGE_DEPENDS)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarnwick)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${TW_DEBIAN_REVISION})
set(CPACK_PACKAGE_VENDOR "Tarnwick")
set(CPACK_PACKAGE_CONTACT "Tarnwick Developers <devel@tarnwick.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "join several video files into one")
# The extended description: lines of at most 80 columns, as Debian's
# package tools show them.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Tarnwick joins video files into one FLV, MP4, Matroska or MPEG-TS file."
  "It copies the compressed audio and video packets of sources that share one"
  "encoding (fast merge), or re-encodes everything to H.264 video and AAC"
  "audio, fitting each picture into the first one's size."
  ""
  "Before a fast merge the sources are compared and every value in which they"
  "differ is named. A merge is written beside the output and replaces it only"
  "when it is kept; the sources can be deleted once the merged file has been"
  "checked."
  ""
  "The package has the command line, tarnwick-join, and the merge window,"
  "tarnwick, which file managers offer for opening videos.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://tarnwick.org/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)

if(BUILD_TESTING)
  # What cmake --install gives a user (needs the installed targets built).
  add_test(NAME install_layout
           COMMAND ${CMAKE_SOURCE_DIR}/tests/install/check-install ${CMAKE_BINARY_DIR})
  # The completion, called as bash calls it on Tab.
  add_test(NAME bash_completion
           COMMAND ${CMAKE_SOURCE_DIR}/tests/install/check-completion
                   ${CMAKE_SOURCE_DIR}/data/tarnwick-join.bash $<TARGET_FILE:tarnwick-join>)
endif()
