# `cpack -G DEB` in a build folder makes a Debian package of what
# `cmake --install` puts in place, with its library dependencies computed
# from the binaries by dpkg-shlibdeps. A build with the window makes
# `quillmere` (the window and kbx); a headless build makes `quillmere-cli`
# (kbx alone). Description lines stay under 80 columns, as Debian's tools
# show them.
set(CPACK_PACKAGE_NAME ${QUILLMERE_PACKAGE})
set(CPACK_PACKAGE_VENDOR "The Quillmere developers")
set(CPACK_PACKAGE_CONTACT "The Quillmere developers <quillmere@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Both packages come from one source, whose changelog they carry.
set(CPACK_DEBIAN_PACKAGE_SOURCE quillmere)
if(QUILLMERE_GUI)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "View, extract and unpack the KBX archives of Velmorra")
  set(CPACK_PACKAGE_DESCRIPTION
      "Quillmere shows the directory of a KBX archive of the game Velmorra and\n\
extracts one entry or unpacks all of them. File managers open KBX archives\n\
with it. Its command-line companion, kbx, lists, verifies, unpacks and packs\n\
archives in scripts. Every archive is treated as untrusted: nothing is written\n\
outside the chosen folder, and no file is left half written.")
  # The file dialogs' translations; the desktop's database tools run from
  # their own dpkg triggers.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "xdg-utils")
  # The full package holds kbx too, and takes the place of the headless one.
  set(CPACK_DEBIAN_PACKAGE_PROVIDES quillmere-cli)
  set(CPACK_DEBIAN_PACKAGE_CONFLICTS quillmere-cli)
  set(CPACK_DEBIAN_PACKAGE_REPLACES quillmere-cli)
else()
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Command-line tool for the KBX archives of Velmorra")
  set(CPACK_PACKAGE_DESCRIPTION
      "kbx lists, verifies, extracts, unpacks and packs the KBX archives of the\n\
game Velmorra, and replaces, adds or removes single entries, for scripts and\n\
large jobs. Every archive is treated as untrusted: nothing is written outside\n\
the chosen folder, and no file is left half written.\n\
\n\
This package holds kbx alone and needs no graphical libraries; the quillmere\n\
package carries the same tool together with the window program.")
  set(CPACK_DEBIAN_PACKAGE_CONFLICTS quillmere)
endif()
include(CPack)
