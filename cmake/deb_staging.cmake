# Runs inside `cpack` (CPACK_PRE_BUILD_SCRIPTS), after the files are installed into the
# staging tree and before the package is made of them. For the Debian package only, it
# does what Debian policy asks and `cmake --install` rightly leaves alone:
#   - every manual page compressed with `gzip -9n` (best compression, no name or time
#     stamp in the header, so the same page always gives the same bytes);
#   - the .comment section removed from the stripped executables, as Debian's own
#     packaging tools do;
#   - usr/share/doc/<package>/changelog.gz, which every package carries;
#   - when the executables are linked statically, a lintian override saying so on
#     purpose: a run of the tool is mostly the start of a process, and a static
#     executable starts in about half the time.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
set(root "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
set(name "${CPACK_PACKAGE_NAME}")

function(gzip_best file)
  execute_process(COMMAND gzip -9nf "${file}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip -9n ${file} failed")
  endif()
endfunction()

file(GLOB pages "${root}/share/man/man*/*.[1-9]")
foreach(page ${pages})
  gzip_best("${page}")
endforeach()

if(CPACK_DOCOUTLINE_STRIP)
  file(GLOB programs "${root}/bin/*")
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

if(CPACK_DOCOUTLINE_LINK_STATIC)
  file(WRITE "${root}/share/lintian/overrides/${name}"
    "# Linked statically on purpose: the tool's run is mostly process start-up, which\n"
    "# static linking halves. Configure with -DDOCOUTLINE_STATIC=OFF for a dynamic build.\n"
    "${name}: statically-linked-binary\n")
endif()
