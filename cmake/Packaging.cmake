# SPDX-License-Identifier: MIT
# Debian packages from the install components: `cpack -G DEB` in a build folder configured
# with -DCMAKE_INSTALL_PREFIX=/usr makes libchunkwell3 (the library under its SONAME),
# libchunkwell-dev (headers, CMake and pkg-config files, the .so link) and metronel (the
# program), with their Depends found by dpkg-shlibdeps.

# The library alone is packed without the program's settings.
if(NOT METRONEL_SUPPORT_ADDRESS)
    set(METRONEL_SUPPORT_ADDRESS "support@metronel.example")
endif()

set(CPACK_PACKAGE_NAME "metronel")
set(CPACK_PACKAGE_VENDOR "the Metronel developers")
set(CPACK_PACKAGE_CONTACT "the Metronel developers <${METRONEL_SUPPORT_ADDRESS}>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://metronel.example/")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_PACKAGE_DIRECTORY "${PROJECT_BINARY_DIR}/packages")
set(CPACK_STRIP_FILES ON)

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${METRONEL_COMPONENTS})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "sound")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The program links the library of its own Runtime package: dpkg-shlibdeps finds it in the
# build tree, and the Depends below names its package.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${PROJECT_BINARY_DIR}/chunkwell")
set(CPACK_DEBIAN_PACKAGE_SOURCE "metronel")

# All three packages come from one source and carry its version, the program's, as Debian's
# packages of one source do; the library's own version is in its SONAME (the runtime
# package's name), its pkg-config file and its CMake package version file.
set(metronel_library_depends "${METRONEL_PACKAGE_Runtime} (= ${PROJECT_VERSION})")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME "${METRONEL_PACKAGE_Runtime}")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION "libs")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# Lintian wants an ldconfig trigger where a package ships a shared library.
file(WRITE "${PROJECT_BINARY_DIR}/packages/triggers" "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA "${PROJECT_BINARY_DIR}/packages/triggers")
set(metronel_library_about "Chunkwell reads and writes chunk files of the RIFF kind, wave files
among them: it walks the records of a container and reads their data, and
appends records and sub-containers with every enclosing size kept right.")
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "library for chunk files of the RIFF kind
${metronel_library_about}
.
This package holds the shared library.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME "${METRONEL_PACKAGE_Development}")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION "libdevel")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${metronel_library_depends}")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SHLIBDEPS OFF)
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION "library for chunk files of the RIFF kind - development files
${metronel_library_about}
.
This package holds the C++20 headers, the CMake package
(find_package(Chunkwell)) and the pkg-config file.")

set(CPACK_DEBIAN_PROGRAM_PACKAGE_NAME "${METRONEL_PACKAGE_Program}")
# The theme's index makes its icons findable, the window's own among them.
set(CPACK_DEBIAN_PROGRAM_PACKAGE_DEPENDS "${metronel_library_depends}, hicolor-icon-theme")
set(CPACK_COMPONENT_PROGRAM_DESCRIPTION "set the tempo of a wave file, or split it into equal pieces
Metronel is a small desktop tool for musicians. It opens an uncompressed PCM
wave file, shows its length in sample frames and the tempo in beats per minute
that its bars and beats give, and writes a copy brought to a new tempo, played
like a tape at another speed, or cuts the sound into numbered pieces of equal
length.")

# What Debian asks of every package beyond what the install rules put there: compressed
# manual pages and a changelog.
set(CPACK_PRE_BUILD_SCRIPTS "${PROJECT_SOURCE_DIR}/cmake/DebianPolish.cmake")
set(METRONEL_CHANGELOG "${PROJECT_BINARY_DIR}/packages/changelog")
file(CONFIGURE OUTPUT "${METRONEL_CHANGELOG}" CONTENT "metronel (${PROJECT_VERSION}) unstable; urgency=medium

  * Release ${PROJECT_VERSION}.

 -- ${CPACK_PACKAGE_CONTACT}  Mon, 07 Dec 2026 12:00:00 +0000
")
set(CPACK_METRONEL_CHANGELOG "${METRONEL_CHANGELOG}")

include(CPack)
