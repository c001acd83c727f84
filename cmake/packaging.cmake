# Packaging with CPack. In the build directory, `cpack -G DEB` makes
# docoutline_<version>_<arch>.deb holding bin/docoutline and bin/docoutline-batch, their
# manual pages and the license, under /usr; `cpack -G TGZ` makes a relocatable tarball of the same files.

set(CPACK_PACKAGE_NAME "docoutline")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "The docoutline developers")
set(DOCOUTLINE_PACKAGE_MAINTAINER "The docoutline developers <maintainers@docoutline.invalid>"
    CACHE STRING "The Maintainer field of the Debian package: a name and an e-mail address")
set(CPACK_PACKAGE_CONTACT "${DOCOUTLINE_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "print the outline an office document records about itself")
# Lines kept short: they become the package's extended description as they are.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "docoutline reads the Document Summary Information property set of an"
  "office document stored as a compound file (.doc, .xls, .ppt, .vsd, .msg,"
  ".pub and more) and prints the outline recorded there: its first heading"
  "group and its last two, each heading followed by the names of its parts."
  "It only reads the document and writes no files."
  "docoutline-batch reads whole collections the same way and writes one"
  "JSON line per document, with the reason for every one that gives nothing.")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_RESOURCE_FILE_README "${PROJECT_SOURCE_DIR}/README.md")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR "DEB")

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${DOCOUTLINE_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # docoutline_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Depends (libc6, libstdc++6, libgcc-s1 at the versions the build used) from
# dpkg-shlibdeps: docoutline-batch is always linked dynamically (iconv loads its
# converters at run time), whichever way docoutline is linked.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_SOURCE_GENERATOR "TGZ")
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/" "/out/" "\\\\.deb$")

include(CPack)
