# Runs inside `cpack` (CPACK_PRE_BUILD_SCRIPTS), after the files are installed into the
# staging tree and before the package is made of them. For the Debian package only, it
# does what Debian policy asks and `cmake --install` rightly leaves alone:
#   - every manual page compressed with `gzip -9n` (best compression, no name or time
#     stamp in the header, so the same page always gives the same bytes);
#   - the .comment section removed from the stripped executables and Python module, as
#     Debian's own packaging tools do;
#   - usr/share/doc/<package>/changelog.gz, which every package carries;
#   - when the executables are linked statically, a lintian override saying so on
#     purpose: a run of the tool is mostly the start of a process, and a static
#     executable starts in about half the time.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()

function(gzip_best file)
  execute_process(COMMAND gzip -9nf "${file}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip -9n ${file} failed")
  endif()
endfunction()

# The files of the package `name`, installed under `root` (the packaging prefix).
function(finish_package root name)
  file(GLOB pages "${root}/share/man/man*/*.[1-9]")
  foreach(page ${pages})
    gzip_best("${page}")
  endforeach()

  if(CPACK_DOCOUTLINE_STRIP)
    file(GLOB programs "${root}/bin/*" "${root}/lib/python3/dist-packages/*/*.so")
    foreach(program ${programs})
      execute_process(COMMAND "${CPACK_DOCOUTLINE_STRIP}" --remove-section=.comment "${program}"
                      RESULT_VARIABLE status)
      if(NOT status EQUAL 0)
        message(WARNING "${CPACK_DOCOUTLINE_STRIP} could not strip ${program}")
      endif()
    endforeach()
  endif()

  set(changelog "${root}/share/doc/${name}/changelog")
  file(WRITE "${changelog}"
    "${name} (${CPACK_PACKAGE_VERSION}) unstable; urgency=medium\n\n"
    "  * Release ${CPACK_PACKAGE_VERSION}, packaged from the upstream sources with CPack.\n\n"
    " -- ${CPACK_DEBIAN_PACKAGE_MAINTAINER}  ${CPACK_DOCOUTLINE_CHANGELOG_DATE}\n")
  gzip_best("${changelog}")

  if(CPACK_DOCOUTLINE_LINK_STATIC AND EXISTS "${root}/bin/docoutline")
    file(WRITE "${root}/share/lintian/overrides/${name}"
      "# Linked statically on purpose: the tool's run is mostly process start-up, which\n"
      "# static linking halves. Configure with -DDOCOUTLINE_STATIC=OFF for a dynamic build.\n"
      "${name}: statically-linked-binary\n")
  endif()
endfunction()

# One package, or one per component (the Python module's is python3-docoutline), each
# staged in a folder of its own.
if(CPACK_DEB_COMPONENT_INSTALL)
  foreach(component ${CPACK_COMPONENTS_ALL})
    string(TOUPPER "${component}" upper)
    finish_package("${CPACK_TEMPORARY_DIRECTORY}/${component}${CPACK_PACKAGING_INSTALL_PREFIX}"
                   "${CPACK_DEBIAN_${upper}_PACKAGE_NAME}")
  endforeach()
else()
  finish_package("${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}" "${CPACK_PACKAGE_NAME}")
endif()
