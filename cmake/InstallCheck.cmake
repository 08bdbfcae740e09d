# SPDX-License-Identifier: MIT
# A quick install check for ctest (label "install"): installs the build into a fresh folder
# and checks that the key files arrive, the version filled in where they name it.
# scripts/test-install is the full check (validators, outside users, packages).
#
#   cmake -DBUILD_DIR=<build> -DVERSION=<program> -DCHUNKWELL_VERSION=<library>
#         -DCMAKE_INSTALL_<BINDIR|LIBDIR|INCLUDEDIR|DATADIR|MANDIR>=<the build's, relative>
#         -P InstallCheck.cmake

set(prefix "${BUILD_DIR}/install-check")
file(REMOVE_RECURSE "${prefix}")

# The install notes what it put where in the build folder, for `uninstall`: keep the notes
# of a real install as they were.
set(notes install_manifest.txt install_new_folders.txt)
foreach(note IN LISTS notes)
    file(REMOVE "${prefix}-${note}")
    if(EXISTS "${BUILD_DIR}/${note}")
        file(COPY_FILE "${BUILD_DIR}/${note}" "${prefix}-${note}")
    endif()
endforeach()
execute_process(
    COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${prefix}"
    OUTPUT_QUIET
    RESULT_VARIABLE status)
foreach(note IN LISTS notes)
    if(EXISTS "${prefix}-${note}")
        file(RENAME "${prefix}-${note}" "${BUILD_DIR}/${note}")
    else()
        file(REMOVE "${BUILD_DIR}/${note}")
    endif()
endforeach()
if(NOT status EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${status}")
endif()

string(REGEX MATCH "^[0-9]+" soversion "${CHUNKWELL_VERSION}")
set(expected
    "${CMAKE_INSTALL_BINDIR}/metronel"
    "${CMAKE_INSTALL_BINDIR}/metronel-cli"
    "${CMAKE_INSTALL_LIBDIR}/libchunkwell.so"
    "${CMAKE_INSTALL_LIBDIR}/libchunkwell.so.${soversion}"
    "${CMAKE_INSTALL_LIBDIR}/libchunkwell.so.${CHUNKWELL_VERSION}"
    "${CMAKE_INSTALL_INCLUDEDIR}/chunkwell/MediaFileReader.h"
    "${CMAKE_INSTALL_LIBDIR}/cmake/Chunkwell/ChunkwellConfig.cmake"
    "${CMAKE_INSTALL_LIBDIR}/cmake/Chunkwell/ChunkwellConfigVersion.cmake"
    "${CMAKE_INSTALL_LIBDIR}/pkgconfig/chunkwell.pc"
    "${CMAKE_INSTALL_DATADIR}/applications/org.example.Metronel.desktop"
    "${CMAKE_INSTALL_DATADIR}/metainfo/org.example.Metronel.metainfo.xml"
    "${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps/metronel.png"
    "${CMAKE_INSTALL_MANDIR}/man1/metronel.1"
    "${CMAKE_INSTALL_MANDIR}/man1/metronel-cli.1")
foreach(file IN LISTS expected)
    if(NOT EXISTS "${prefix}/${file}")
        message(FATAL_ERROR "${file} was not installed")
    endif()
endforeach()

# Each version where it stands, the program's and the library's.
function(expect_text file text)
    file(READ "${prefix}/${file}" content)
    string(FIND "${content}" "${text}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "${file} does not hold '${text}'")
    endif()
    string(FIND "${content}" "@PROJECT_VERSION@" at)
    if(NOT at EQUAL -1)
        message(FATAL_ERROR "${file} was installed without its version filled in")
    endif()
endfunction()
expect_text("${CMAKE_INSTALL_MANDIR}/man1/metronel.1" "\"Metronel ${VERSION}\"")
expect_text("${CMAKE_INSTALL_MANDIR}/man1/metronel-cli.1" "\"Metronel ${VERSION}\"")
expect_text("${CMAKE_INSTALL_DATADIR}/metainfo/org.example.Metronel.metainfo.xml"
    "<release version=\"${VERSION}\"")
expect_text("${CMAKE_INSTALL_LIBDIR}/pkgconfig/chunkwell.pc" "Version: ${CHUNKWELL_VERSION}\n")
expect_text("${CMAKE_INSTALL_LIBDIR}/cmake/Chunkwell/ChunkwellConfigVersion.cmake"
    "set(PACKAGE_VERSION \"${CHUNKWELL_VERSION}\")")

file(REMOVE_RECURSE "${prefix}")
