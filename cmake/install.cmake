# Where each program's files go on install, and which package (component) carries them.
include(GNUInstallDirs)

# The reverse-DNS prefix of the windows' AppStream ids: <prefix>.<program>.
set(AESSUITE_APPSTREAM_PREFIX org.example.aessuite)

# The program, its manual page and, for a windowed tool, its desktop entry, icons and AppStream
# metainfo; all in the component named after the program. Expects <name>.1 and, with WINDOWED,
# <name>.desktop, <name>.svg and icons/<name>-<size>.png beside the calling CMakeLists.txt, and
# packaging/<prefix>.<name>.metainfo.xml.
function(aessuite_install_program name)
  cmake_parse_arguments(ARG "WINDOWED" "" "" ${ARGN})
  set(here ${CMAKE_CURRENT_SOURCE_DIR})
  install(TARGETS ${name} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${name})
  # A stripped install (as cpack makes) also drops the compiler's version notes, as Debian's
  # own packages do.
  install(CODE "if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${name}\")
  endif()" COMPONENT ${name})

  # Manual pages are installed compressed (gzip -n: no name or time stamp, the same bytes on
  # every build).
  set(page ${CMAKE_CURRENT_BINARY_DIR}/${name}.1.gz)
  add_custom_command(OUTPUT ${page} COMMAND sh -c "gzip -9n <\"$0\" >\"$1\"" ${here}/${name}.1
                     ${page} DEPENDS ${here}/${name}.1 VERBATIM)
  add_custom_target(${name}_manual ALL DEPENDS ${page})
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${name})

  if(ARG_WINDOWED)
    install(FILES ${here}/${name}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
            COMPONENT ${name})
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/${AESSUITE_APPSTREAM_PREFIX}.${name}.metainfo.xml
            DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT ${name})
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
