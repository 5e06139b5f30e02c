# What `cmake --install` puts where, and the Debian package made from the same rules
# (scripts/package.sh). Installed, the programs find their data in share/vornhal/data
# beside bin/.
include(GNUInstallDirs)
install(TARGETS vornhal vornhal-capture RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES data/bg.png data/fg.png data/trelm.png data/music.mp3
        DESTINATION ${CMAKE_INSTALL_DATADIR}/vornhal/data)
install(FILES packaging/vornhal.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(DIRECTORY packaging/icons/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Manual pages, compressed as Debian keeps them (no timestamp, so builds are repeatable).
foreach(page vornhal.6 vornhal-capture.1)
  string(REGEX REPLACE ".*\\." "" section ${page})
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/man/${page}.gz
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
                     COMMAND gzip -9nc ${CMAKE_SOURCE_DIR}/packaging/${page} > ${CMAKE_BINARY_DIR}/man/${page}.gz
                     DEPENDS ${CMAKE_SOURCE_DIR}/packaging/${page})
  list(APPEND manual_pages ${CMAKE_BINARY_DIR}/man/${page}.gz)
  install(FILES ${CMAKE_BINARY_DIR}/man/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()
add_custom_target(manual_pages ALL DEPENDS ${manual_pages})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vornhal)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Vornhal developers <vornhal@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "self-running real-time OpenGL demo set to its own music")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "A fixed piece of animation drawn with OpenGL and played to its own soundtrack in\n\
142 seconds, fullscreen or in a window of any size, with vornhal-capture to render\n\
it to pictures or an MP4 with no display.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so dpkg-shlibdeps cannot see them: GL and EGL with Mesa's drivers
# (SDL opens them itself), the X core fonts SDL draws its X11 dialogs with, and
# libdecor's plugin for a title bar on Wayland. ffmpeg makes videos; zenity shows the
# dialogs on native Wayland.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libgl1, libglx-mesa0, libegl1, libegl-mesa0, libgl1-mesa-dri, xfonts-base")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libdecor-0-plugin-1-cairo")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "ffmpeg, zenity")
include(CPack)
