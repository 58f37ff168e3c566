# Where each program's files go on install, and which package (component) carries them.
include(GNUInstallDirs)

# The program, its manual page and, for a windowed tool, its desktop entry and icons; all in the
# component named after the program. Expects <name>.1 and, with WINDOWED, <name>.desktop,
# <name>.svg and icons/<name>-<size>.png beside the calling CMakeLists.txt.
function(aessuite_install_program name)
  cmake_parse_arguments(ARG "WINDOWED" "" "" ${ARGN})
  set(here ${CMAKE_CURRENT_SOURCE_DIR})
  install(TARGETS ${name} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${name})
  install(FILES ${here}/${name}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${name})
  if(ARG_WINDOWED)
    install(FILES ${here}/${name}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
            COMPONENT ${name})
    set(icons ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
    install(FILES ${here}/${name}.svg DESTINATION ${icons}/scalable/apps COMPONENT ${name})
    foreach(size 16 24 32 48 64 128 256)
      install(FILES ${here}/icons/${name}-${size}.png DESTINATION ${icons}/${size}x${size}/apps
              RENAME ${name}.png COMPONENT ${name})
    endforeach()
  endif()
endfunction()

# The console's bash completion, where bash-completion looks for it by the command's name.
install(FILES ${PROJECT_SOURCE_DIR}/console/aestarnex.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME aestarnex
        COMPONENT aestarnex)
