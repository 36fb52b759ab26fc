# Runs at the end of `cmake --install`, after every desktop file is in place;
# QUILLMERE_SHARE is the installed data folder.
#
# A plain install (no DESTDIR) puts the files where desktops read them at
# once, so it also refreshes the desktop's caches under the prefix, with each
# tool that is there: without the MIME cache, file managers do not know *.kbx
# under /usr/local. A staged install (DESTDIR, as cpack does) leaves them
# alone: a package must not carry the caches, and dpkg's triggers rebuild
# them on the system it is installed on. A failed refresh leaves the
# installed files valid, so it warns and does not fail the install.
if(NOT "$ENV{DESTDIR}" STREQUAL "")
  return()
endif()

function(quillmere_refresh tool dir)
  find_program(tool_path ${tool} NO_CACHE)
  if(NOT tool_path OR NOT IS_DIRECTORY "${QUILLMERE_SHARE}/${dir}")
    return()
  endif()
  message(STATUS "Refreshing: ${QUILLMERE_SHARE}/${dir}")
  execute_process(COMMAND ${tool_path} ${ARGN} "${QUILLMERE_SHARE}/${dir}" RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(WARNING "${tool} ${QUILLMERE_SHARE}/${dir}: ${result}")
  endif()
endfunction()

quillmere_refresh(update-mime-database mime)
quillmere_refresh(update-desktop-database applications -q)
# The prefix's hicolor folder has no index.theme of its own (the theme's is
# in /usr/share), hence --ignore-theme-index.
quillmere_refresh(gtk-update-icon-cache icons/hicolor -q --ignore-theme-index --force)
