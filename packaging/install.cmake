# What `cmake --install` puts where, which the Debian package (debian/, built by
# scripts/package.sh) installs too. Installed, the programs find their data in
# share/vornhal/data beside bin/ and the mode guard in libexec/vornhal/. The package is
# classified as video throughout: Debian section video, programs in bin/, manual pages
# in section 1, desktop categories AudioVideo and Video.
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
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Manual pages, compressed as Debian keeps them (no timestamp, so builds are
# repeatable). The pages' FILES name the data and the mode guard where this build puts
# them.
set(VORNHAL_GUARD_PATH ${CMAKE_INSTALL_FULL_LIBEXECDIR}/vornhal/vornhal-mode-guard)
foreach(page vornhal.1 vornhal-capture.1)
  configure_file(packaging/${page} ${CMAKE_BINARY_DIR}/man/${page} @ONLY)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/man/${page}.gz
                     COMMAND gzip -9nc ${CMAKE_BINARY_DIR}/man/${page} > ${CMAKE_BINARY_DIR}/man/${page}.gz
                     DEPENDS ${CMAKE_BINARY_DIR}/man/${page})
  list(APPEND compressed ${CMAKE_BINARY_DIR}/man/${page}.gz)
  install(FILES ${CMAKE_BINARY_DIR}/man/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
add_custom_target(compressed_docs ALL DEPENDS ${compressed})
