# Debian packages, one per program, so that only the windowed tools pull in Qt:
#   cpack -G DEB   (in the build folder) makes aestarnex_*.deb, aesmoltra_*.deb, aespraxel_*.deb.
# Their library dependencies are read off the binaries by dpkg-shlibdeps.
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

set(CPACK_COMPONENTS_ALL aestarnex)
set(CPACK_DEBIAN_AESTARNEX_PACKAGE_NAME aestarnex)
set(CPACK_COMPONENT_AESTARNEX_DESCRIPTION
    "AES file encryption on the command line\n\
Encrypts and decrypts single files with a passphrase (AES-256-GCM under a PBKDF2 key) or\n\
with a raw key and IV in CTR, GCM, OFB, CFB, CBC, ECB or PCBC, and writes pseudo-random files.")
if(AESSUITE_BUILD_GUI)
  list(APPEND CPACK_COMPONENTS_ALL aesmoltra)
  set(CPACK_DEBIAN_AESMOLTRA_PACKAGE_NAME aesmoltra)
  set(CPACK_DEBIAN_AESMOLTRA_PACKAGE_SECTION x11)
  # Qt finds its windowing plugins at run time, so no library dependency names them.
  set(CPACK_DEBIAN_AESMOLTRA_PACKAGE_DEPENDS qt6-qpa-plugins)
  # The condensed face keeps the window's texts inside their boxes where Segoe UI is missing.
  set(CPACK_DEBIAN_AESMOLTRA_PACKAGE_RECOMMENDS fonts-dejavu-extra)
  set(CPACK_COMPONENT_AESMOLTRA_DESCRIPTION
      "AES file encryption with raw keys and IVs, in a window\n\
Encrypts and decrypts files in CTR, GCM, OFB, CFB, CBC, ECB or PCBC with a key and IV entered\n\
as hexadecimal digits, loaded, saved, pasted or generated, and writes pseudo-random files.")
  list(APPEND CPACK_COMPONENTS_ALL aespraxel)
  set(CPACK_DEBIAN_AESPRAXEL_PACKAGE_NAME aespraxel)
  set(CPACK_DEBIAN_AESPRAXEL_PACKAGE_SECTION x11)
  set(CPACK_DEBIAN_AESPRAXEL_PACKAGE_DEPENDS qt6-qpa-plugins)
  set(CPACK_DEBIAN_AESPRAXEL_PACKAGE_RECOMMENDS fonts-dejavu-extra)
  set(CPACK_COMPONENT_AESPRAXEL_DESCRIPTION
      "AES file encryption with a passphrase, in a window\n\
Seals files with a passphrase (AES-256-GCM under a PBKDF2-HMAC-SHA-256 key with a random salt)\n\
and opens them again; the files are those of aestarnex Praxel.")
endif()
include(CPack)
