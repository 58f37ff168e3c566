# Debian packages, one per program, so that only the windowed tools pull in Qt:
#   cpack -G DEB   (in the build folder) makes aestarnex_*.deb, aesmoltra_*.deb, aespraxel_*.deb.
# Their library dependencies are read off the binaries by dpkg-shlibdeps; package_test.sh holds
# them to lintian.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME aes-suite)
set(CPACK_PACKAGE_VENDOR "AES suite developers")
set(CPACK_PACKAGE_CONTACT "AES suite developers <aes-suite@example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_HOMEPAGE_URL "https://example.org/aes-suite")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SOURCE aes-suite)

# The Debian revision comes from the newest entry of packaging/changelog, as dpkg takes it; a new
# project version needs a new entry there first.
set(changelog ${PROJECT_SOURCE_DIR}/packaging/changelog)
file(STRINGS ${changelog} entry LIMIT_COUNT 1)
if(NOT entry MATCHES "^aes-suite \\(([^-]+)-([^)]+)\\)")
  message(FATAL_ERROR "${changelog}: its first line names no version")
elseif(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "${changelog} ends at ${CMAKE_MATCH_1}, the project is at "
                      "${PROJECT_VERSION}: add an entry for it")
endif()
set(CPACK_DEBIAN_PACKAGE_RELEASE ${CMAKE_MATCH_2})
set(changelog_gz ${CMAKE_BINARY_DIR}/changelog.Debian.gz)
add_custom_command(OUTPUT ${changelog_gz} COMMAND sh -c "gzip -9n <\"$0\" >\"$1\"" ${changelog}
                   ${changelog_gz} DEPENDS ${changelog} VERBATIM)
add_custom_target(debian_changelog ALL DEPENDS ${changelog_gz})

# Descriptions: the first line is the synopsis, the rest the extended text, both held to
# lintian's 80 columns.
set(CPACK_COMPONENTS_ALL aestarnex)
set(CPACK_DEBIAN_AESTARNEX_PACKAGE_NAME aestarnex)
set(CPACK_COMPONENT_AESTARNEX_DESCRIPTION
    "AES file encryption on the command line\n\
Encrypts and decrypts single files with a passphrase (AES-256-GCM under a\n\
PBKDF2 key) or with a raw key and IV in CTR, GCM, OFB, CFB, CBC, ECB or PCBC,\n\
and writes pseudo-random files.")
if(AESSUITE_BUILD_GUI)
  # Qt finds its windowing plugins at run time, so no library dependency names them. Without
  # the condensed face the window's labels are clipped where Segoe UI is missing.
  set(window_depends "qt6-qpa-plugins, fonts-dejavu-extra")
  list(APPEND CPACK_COMPONENTS_ALL aesmoltra)
  set(CPACK_DEBIAN_AESMOLTRA_PACKAGE_NAME aesmoltra)
  set(CPACK_DEBIAN_AESMOLTRA_PACKAGE_DEPENDS ${window_depends})
  set(CPACK_COMPONENT_AESMOLTRA_DESCRIPTION
      "AES file encryption with raw keys and IVs, in a window\n\
Encrypts and decrypts files in CTR, GCM, OFB, CFB, CBC, ECB or PCBC with a key\n\
and IV entered as hexadecimal digits, loaded, saved, pasted or generated, and\n\
writes pseudo-random files.")
  list(APPEND CPACK_COMPONENTS_ALL aespraxel)
  set(CPACK_DEBIAN_AESPRAXEL_PACKAGE_NAME aespraxel)
  set(CPACK_DEBIAN_AESPRAXEL_PACKAGE_DEPENDS ${window_depends})
  set(CPACK_COMPONENT_AESPRAXEL_DESCRIPTION
      "AES file encryption with a passphrase, in a window\n\
Seals files with a passphrase (AES-256-GCM under a PBKDF2-HMAC-SHA-256 key with\n\
a random salt) and opens them again; the files are those of aestarnex Praxel.")
endif()

# Debian's records in each package and the lintian tags that do not apply to it; a plain
# install leaves them out.
foreach(component IN LISTS CPACK_COMPONENTS_ALL)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${changelog_gz}
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${component} COMPONENT ${component}
          EXCLUDE_FROM_ALL)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/lintian-overrides
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME ${component}
          COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()
include(CPack)
