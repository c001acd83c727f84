# Packaging with CPack. In the build directory, `cpack -G DEB` makes
# docoutline_<version>_<arch>.deb holding bin/docoutline and bin/docoutline-batch, their
# manual pages and the license, under /usr; `cpack -G TGZ` makes a relocatable tarball of the same files.

set(CPACK_PACKAGE_NAME "docoutline")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "The docoutline developers")
set(DOCOUTLINE_PACKAGE_MAINTAINER "The docoutline developers <maintainers@docoutline.invalid>"
    CACHE STRING "The Maintainer field of the Debian package: a name and an e-mail address")
set(CPACK_PACKAGE_CONTACT "${DOCOUTLINE_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "outlines of office documents: compound files and Office Open XML")
# Lines kept short: they become the package's extended description as they are (and
# none may start with a dot, which would make it a control line).
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "docoutline prints the outline that an office document stored as a"
  "compound file records about itself: the first and the last two heading"
  "groups of its Document Summary Information, each heading followed by"
  "the names of its parts. Such documents include the .doc, .xls and .ppt"
  "files, the .vsd, .msg and .pub files, and many more. It only reads the"
  "document and writes no files. docoutline-batch reads whole collections"
  "the same way, Office Open XML packages (.docx, .xlsx, .pptx and their"
  "kin) too, whose extended properties hold the same outline, and writes"
  "one JSON line per document, with the reason for every one that gives"
  "nothing.")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_RESOURCE_FILE_README "${PROJECT_SOURCE_DIR}/README.md")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR "DEB")

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${DOCOUTLINE_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # docoutline_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# Depends (libc6, libstdc++6, libgcc-s1 at the versions the build used) from
# dpkg-shlibdeps, over every installed executable: docoutline-batch is always linked
# dynamically (iconv loads its converters at run time), and a static executable adds
# nothing.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

# What Debian policy asks of the package beyond the installed files, done on CPack's
# staging tree (cmake/deb_staging.cmake): manual pages compressed with `gzip -9n`, the
# .comment section stripped, a changelog, and the lintian override that records the
# static linking as deliberate.
string(TIMESTAMP CPACK_DOCOUTLINE_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)  # honours SOURCE_DATE_EPOCH
set(CPACK_DOCOUTLINE_LINK_STATIC ${DOCOUTLINE_LINK_STATIC})
set(CPACK_DOCOUTLINE_STRIP "${CMAKE_STRIP}")
set(CPACK_PRE_BUILD_SCRIPTS "${CMAKE_CURRENT_LIST_DIR}/deb_staging.cmake")

# With the Python module (python/), its files make a second package, python3-docoutline;
# the first keeps everything else, as above. Each package's description starts with a
# summary of its own, which CPack would otherwise take from the one summary for both.
if(DOCOUTLINE_BUILD_PYTHON)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL docoutline python)
  set(CPACK_DEBIAN_DOCOUTLINE_PACKAGE_NAME "docoutline")
  set(CPACK_DEBIAN_DOCOUTLINE_FILE_NAME DEB-DEFAULT)
  set(CPACK_COMPONENT_DOCOUTLINE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION_SUMMARY}\n${CPACK_PACKAGE_DESCRIPTION}")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME "python3-docoutline")
  set(CPACK_DEBIAN_PYTHON_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION "python")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "${DOCOUTLINE_PYTHON_DEPENDS}")
  string(JOIN "\n" CPACK_COMPONENT_PYTHON_DESCRIPTION
    "read the outline office documents record about themselves (Python 3)"
    "The Python 3 module docoutline reads the outline that office documents"
    "record about themselves, with the readers of docoutline-batch: compound"
    "files (.doc, .xls, .ppt and many more) and Office Open XML packages."
    "read() takes a path, the document's bytes or a binary file object and"
    "returns the batch's record as a dict; scan() reads whole collections on"
    "threads and yields the records in input order.")
  unset(CPACK_PACKAGE_DESCRIPTION_SUMMARY)
endif()

set(CPACK_SOURCE_GENERATOR "TGZ")
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/" "/out/" "\\\\.deb$")

include(CPack)

# `cmake --build build --target uninstall`: removes what `cmake --install build` put in
# place (cmake/uninstall.cmake), never a file that a Debian package owns. Install one way
# or the other, the package or `cmake --install`, not both.
add_custom_target(uninstall
  COMMAND ${CMAKE_COMMAND} -DMANIFEST=${CMAKE_BINARY_DIR}/install_manifest.txt -P ${CMAKE_CURRENT_LIST_DIR}/uninstall.cmake
  COMMENT "Removing what cmake --install put in place")
