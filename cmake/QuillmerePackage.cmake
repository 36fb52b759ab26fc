# `cpack -G DEB` in a build folder makes a Debian package of what
# `cmake --install` puts in place, with its library dependencies computed
# from the binaries by dpkg-shlibdeps.
set(CPACK_PACKAGE_NAME quillmere)
set(CPACK_PACKAGE_VENDOR "Quillmere")
set(CPACK_PACKAGE_CONTACT "Quillmere <quillmere@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "View, extract and unpack the KBX archives of Velmorra")
set(CPACK_PACKAGE_DESCRIPTION
    "Quillmere shows the directory of a KBX archive of the game Velmorra and extracts one\n\
entry or unpacks all of them. Its command-line companion, kbx, lists, verifies,\n\
unpacks and packs archives in scripts.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(QUILLMERE_GUI)
  # The file dialogs' translations; the desktop's database tools run from
  # their own dpkg triggers.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "xdg-utils")
  # The full package holds kbx too, and takes the place of the headless one.
  set(CPACK_DEBIAN_PACKAGE_PROVIDES quillmere-cli)
  set(CPACK_DEBIAN_PACKAGE_CONFLICTS quillmere-cli)
  set(CPACK_DEBIAN_PACKAGE_REPLACES quillmere-cli)
else()
  set(CPACK_PACKAGE_NAME quillmere-cli)
  set(CPACK_DEBIAN_PACKAGE_CONFLICTS quillmere)
endif()
include(CPack)
