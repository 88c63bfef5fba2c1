# The Debian package: `cpack --preset deb` (or `cpack -G DEB` in a build
# folder) packs what `cmake --install` installs: the programs, their manual
# pages and completions, the example kernels and the licence.
set(CPACK_PACKAGE_NAME kdsp)
set(CPACK_PACKAGE_VENDOR "the kdsp developers")
set(CPACK_PACKAGE_CONTACT "the kdsp developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "radio captures to voice recordings under small sandboxed kernels")
set(CPACK_PACKAGE_DESCRIPTION
    "kdsp turns a recorded radio capture into a short voice recording, under the control of a small \
sandboxed program, the kernel, given with each run. Every result is fixed to the bit. Companion \
programs assemble and list kernels, synthesize and scan captures, and take receivers' recordings \
of any rate and length to the tool's input. Licence: MIT (/usr/share/doc/kdsp/copyright).")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the programs link (libsndfile, libsoxr, libpng, ...) become
# dependencies as dpkg-shlibdeps finds them in the built binaries.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "bash-completion, man-db")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "parallel")

include(CPack)
