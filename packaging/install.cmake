# What `cmake --install` puts where, and the Debian package made from the same rules
# (scripts/package.sh). Installed, the programs find their data in share/vornhal/data
# beside bin/. The package is classified as video throughout: Debian section video,
# programs in bin/, manual pages in section 1, desktop categories AudioVideo and Video.
include(GNUInstallDirs)
install(TARGETS vornhal vornhal-capture RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS vornhal-mode-guard RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/vornhal)
install(FILES data/bg.png data/fg.png data/trelm.png data/music.mp3
        DESTINATION ${CMAKE_INSTALL_DATADIR}/vornhal/data)
# The menu plays the installed show, whatever folder it starts in.
set(VORNHAL_DATA_DIR ${CMAKE_INSTALL_FULL_DATADIR}/vornhal/data)
configure_file(packaging/${VORNHAL_APP_ID}.desktop.in ${VORNHAL_APP_ID}.desktop @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/${VORNHAL_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES packaging/${VORNHAL_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(DIRECTORY packaging/icons/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
install(FILES packaging/completion/vornhal packaging/completion/vornhal-capture
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES README.md packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Manual pages and the changelog, compressed as Debian keeps them (no timestamp, so
# builds are repeatable). The pages' FILES name the data where this build puts it.
foreach(page vornhal.1 vornhal-capture.1)
  configure_file(packaging/${page} ${CMAKE_BINARY_DIR}/man/${page} @ONLY)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/man/${page}.gz
                     COMMAND gzip -9nc ${CMAKE_BINARY_DIR}/man/${page} > ${CMAKE_BINARY_DIR}/man/${page}.gz
                     DEPENDS ${CMAKE_BINARY_DIR}/man/${page})
  list(APPEND compressed ${CMAKE_BINARY_DIR}/man/${page}.gz)
  install(FILES ${CMAKE_BINARY_DIR}/man/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/changelog.gz
                   COMMAND gzip -9nc ${CMAKE_SOURCE_DIR}/packaging/changelog > ${CMAKE_BINARY_DIR}/changelog.gz
                   DEPENDS ${CMAKE_SOURCE_DIR}/packaging/changelog)
add_custom_target(compressed_docs ALL DEPENDS ${compressed} ${CMAKE_BINARY_DIR}/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vornhal)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "The Vornhal developers <developers@vornhal.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "self-running real-time OpenGL demo set to its own music")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "A fixed piece of animation drawn with OpenGL and played to its own\n\
soundtrack in 142 seconds, fullscreen or in a window of any size, with\n\
vornhal-capture to render it to pictures or an MP4 with no display.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
# Loaded at run time, so dpkg-shlibdeps cannot see them: GL and EGL (SDL opens them
# itself), through the vendor-neutral dispatch libraries, which bring a driver of their
# own choosing. Recommended: the X core fonts SDL draws its X11 dialogs with (without
# them the show starts in a window and says why), libdecor's plugin for a title bar on
# Wayland, and ffmpeg, which the capture's video command runs. zenity shows the dialogs
# on native Wayland.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libgl1, libegl1")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xfonts-base, libdecor-0-plugin-1-cairo, ffmpeg")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "zenity, bash-completion")
# The same package from the same sources, whoever builds it where: directories 0755
# whatever the umask (package.sh sets the umask and SOURCE_DATE_EPOCH, which stamps the
# archives, too).
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
    GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
