# `cmake --build BUILD --target uninstall` runs this: it removes what `cmake --install`
# put in place from that build folder, as BUILD/install_manifest.txt lists it, and the
# folders of our documentation and of the Python package once they are empty. A file that a Debian package owns is
# kept, with a message: the package put it there (an install over the package's own
# prefix), and only the package's removal takes it away.
#
#   cmake -DMANIFEST=install_manifest.txt [-DDPKG_QUERY=dpkg-query] -P uninstall.cmake
if(NOT EXISTS "${MANIFEST}")
  message(FATAL_ERROR "Nothing to uninstall: ${MANIFEST} does not exist (cmake --install writes it).")
endif()
if(NOT DEFINED DPKG_QUERY)
  find_program(DPKG_QUERY dpkg-query)
endif()
file(STRINGS "${MANIFEST}" files)
foreach(file IN LISTS files)
  if(NOT EXISTS "${file}" AND NOT IS_SYMLINK "${file}")
    continue()
  endif()
  if(DPKG_QUERY)
    execute_process(COMMAND "${DPKG_QUERY}" --search "${file}" RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
    if(status EQUAL 0)
      message(STATUS "Kept, a package owns it: ${file}")
      continue()
    endif()
  endif()
  message(STATUS "Removing: ${file}")
  file(REMOVE "${file}")
  get_filename_component(folder "${file}" DIRECTORY)
  if(folder MATCHES "/doc/(python3-)?docoutline$|/dist-packages/docoutline$" AND IS_DIRECTORY "${folder}")
    file(GLOB left "${folder}/*")
    if(NOT left)
      file(REMOVE_RECURSE "${folder}")
    endif()
  endif()
endforeach()
