# SPDX-License-Identifier: MIT
# The support address, the program's icons, and what `cmake --install` puts where: the
# program with its desktop entry, metainfo, icons and manual page, and Chunkwell with its
# headers, a package configuration for find_package(Chunkwell) and a pkg-config file.
#
# Every rule names one of three components, which are also the Debian packages
# (cmake/Packaging.cmake): Runtime (the shared library), Development (headers, CMake and
# pkg-config files, the .so link) and Program (everything a user of the windows needs).

include(CMakePackageConfigHelpers)

# The Debian package of each component; its documentation folder holds the licence.
# The library's own version (chunkwell/CMakeLists.txt); its SONAME names its runtime package.
get_target_property(CHUNKWELL_VERSION chunkwell VERSION)
get_target_property(CHUNKWELL_SOVERSION chunkwell SOVERSION)
set(METRONEL_PACKAGE_Runtime "libchunkwell${CHUNKWELL_SOVERSION}")
set(METRONEL_PACKAGE_Development "libchunkwell-dev")
set(METRONEL_PACKAGE_Program "metronel")
set(METRONEL_COMPONENTS Runtime Development)
if(METRONEL_BUILD_APP)
    list(APPEND METRONEL_COMPONENTS Program)
endif()
# The programs link Rubber Band and FFTW (both GPL-2+), so as built they are distributed
# under the GPL; Chunkwell links neither and stays MIT alone.
file(READ "${PROJECT_SOURCE_DIR}/LICENSE" metronel_mit_text)
file(WRITE "${PROJECT_BINARY_DIR}/copyright-programs"
"The programs metronel and metronel-cli, as built, link the Rubber Band Library
(Copyright Particular Programs Ltd) and FFTW (Copyright Matteo Frigo and the
Massachusetts Institute of Technology), both under the GNU General Public License
version 2 or later, and are therefore distributed under the
GNU General Public License, version 2 or later. On Debian systems the complete text of
the GNU General Public License version 2 is in /usr/share/common-licenses/GPL-2.

Metronel's own source code is under the MIT licence:

${metronel_mit_text}")
foreach(component IN LISTS METRONEL_COMPONENTS)
    set(copyright "${PROJECT_SOURCE_DIR}/LICENSE")
    if(component STREQUAL "Program")
        set(copyright "${PROJECT_BINARY_DIR}/copyright-programs")
    endif()
    install(FILES "${copyright}"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/doc/${METRONEL_PACKAGE_${component}}"
        RENAME copyright
        COMPONENT ${component})
endforeach()

set(CHUNKWELL_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/Chunkwell")

# ---- Chunkwell ----

# The public headers use std::span and concepts, so every user needs C++20.
target_compile_features(chunkwell INTERFACE cxx_std_20)

install(TARGETS chunkwell
    EXPORT ChunkwellTargets
    LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}"
        COMPONENT Runtime
        NAMELINK_COMPONENT Development)
install(DIRECTORY "${PROJECT_SOURCE_DIR}/chunkwell/include/chunkwell"
    DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}"
    COMPONENT Development
    FILES_MATCHING PATTERN "*.h")
install(EXPORT ChunkwellTargets
    NAMESPACE Chunkwell::
    DESTINATION "${CHUNKWELL_CMAKE_DIR}"
    COMPONENT Development)

configure_package_config_file(
    "${CMAKE_CURRENT_LIST_DIR}/ChunkwellConfig.cmake.in"
    "${PROJECT_BINARY_DIR}/ChunkwellConfig.cmake"
    INSTALL_DESTINATION "${CHUNKWELL_CMAKE_DIR}")
# The major version is the library's SONAME: a new one breaks its users.
write_basic_package_version_file(
    "${PROJECT_BINARY_DIR}/ChunkwellConfigVersion.cmake"
    VERSION "${CHUNKWELL_VERSION}"
    COMPATIBILITY SameMajorVersion)
install(FILES
    "${PROJECT_BINARY_DIR}/ChunkwellConfig.cmake"
    "${PROJECT_BINARY_DIR}/ChunkwellConfigVersion.cmake"
    DESTINATION "${CHUNKWELL_CMAKE_DIR}"
    COMPONENT Development)

# pkg-config, beside the CMake package. The prefix is the one installed to, which
# `cmake --install --prefix` and packaging only settle at install time.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
    set(CHUNKWELL_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
else()
    set(CHUNKWELL_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
endif()
if(IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
    set(CHUNKWELL_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
else()
    set(CHUNKWELL_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
set(CHUNKWELL_PC_PREFIX "@CMAKE_INSTALL_PREFIX@")
file(READ "${PROJECT_SOURCE_DIR}/cmake/chunkwell.pc.in" chunkwell_pc)
string(REPLACE "@CMAKE_INSTALL_PREFIX@" "@CHUNKWELL_PC_PREFIX@" chunkwell_pc
    "${chunkwell_pc}")
file(CONFIGURE OUTPUT "${PROJECT_BINARY_DIR}/pkgconfig/chunkwell.pc.in" CONTENT "${chunkwell_pc}"
    @ONLY)
install(CODE "
    configure_file(\"${PROJECT_BINARY_DIR}/pkgconfig/chunkwell.pc.in\"
        \"${PROJECT_BINARY_DIR}/pkgconfig/chunkwell.pc\" @ONLY)
    file(INSTALL \"${PROJECT_BINARY_DIR}/pkgconfig/chunkwell.pc\"
        DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig\")"
    COMPONENT Development)

# Every folder the rules above write into: `uninstall` removes those the install made.
set(folders "${CMAKE_INSTALL_LIBDIR}" "${CHUNKWELL_CMAKE_DIR}" "${CMAKE_INSTALL_LIBDIR}/pkgconfig"
    "${CMAKE_INSTALL_INCLUDEDIR}/chunkwell")
foreach(component IN LISTS METRONEL_COMPONENTS)
    list(APPEND folders "${CMAKE_INSTALL_DATADIR}/doc/${METRONEL_PACKAGE_${component}}")
endforeach()
list(JOIN folders "\n" folders)
file(WRITE "${PROJECT_BINARY_DIR}/install_folders.txt" "${folders}\n")

if(NOT METRONEL_BUILD_APP)
    return()
endif()

# ---- The support address of the about window ----

set(METRONEL_SUPPORT_ADDRESS "support@metronel.example" CACHE STRING
    "E-mail address that the about window shows and its support link writes to")
# It goes into a C++ string literal and a mailto: link, so only a plain address will do.
if(NOT METRONEL_SUPPORT_ADDRESS MATCHES "^[A-Za-z0-9._%+-]+@[A-Za-z0-9.-]+$")
    message(FATAL_ERROR
        "METRONEL_SUPPORT_ADDRESS is not a plain e-mail address: '${METRONEL_SUPPORT_ADDRESS}'")
endif()
target_compile_definitions(metronel_ui PRIVATE
    "METRONEL_SUPPORT_ADDRESS=\"${METRONEL_SUPPORT_ADDRESS}\"")
if(TARGET metronel_tests)
    target_compile_definitions(metronel_tests PRIVATE
        "METRONEL_SUPPORT_ADDRESS=\"${METRONEL_SUPPORT_ADDRESS}\"")
endif()

# ---- Icons of the desktop theme, drawn at build time ----

set(METRONEL_ICON_SIZES 16 32 48 64 128 256)
set(METRONEL_ICON_DIR "${PROJECT_BINARY_DIR}/hicolor")
set(METRONEL_ICON_FILES)
foreach(size IN LISTS METRONEL_ICON_SIZES)
    list(APPEND METRONEL_ICON_FILES "${METRONEL_ICON_DIR}/${size}x${size}/apps/metronel.png")
endforeach()

find_package(Qt6 REQUIRED COMPONENTS Gui)
add_executable(metronel_icons "${PROJECT_SOURCE_DIR}/resources/hicolor/DrawIcons.cpp")
target_link_libraries(metronel_icons PRIVATE Qt6::Gui metronel_warnings)
# The small sizes are the window icon's own hand-drawn pixels; the larger ones are drawn
# from the same shapes.
add_custom_command(
    OUTPUT ${METRONEL_ICON_FILES}
    COMMAND "${CMAKE_COMMAND}" -E env ASAN_OPTIONS=detect_leaks=0
            "$<TARGET_FILE:metronel_icons>" "${METRONEL_ICON_DIR}"
            "${PROJECT_SOURCE_DIR}/resources/metronel16.xpm"
            "${PROJECT_SOURCE_DIR}/resources/metronel32.xpm"
            ${METRONEL_ICON_SIZES}
    DEPENDS metronel_icons
            "${PROJECT_SOURCE_DIR}/resources/metronel16.xpm"
            "${PROJECT_SOURCE_DIR}/resources/metronel32.xpm"
    COMMENT "Drawing the program's icons"
    VERBATIM)
add_custom_target(metronel_icon_files ALL DEPENDS ${METRONEL_ICON_FILES})

# ---- The program ----

# The desktop entry and the metainfo are named by the program's desktop id, which main.cpp
# gives Qt too.
install(TARGETS metronel RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}" COMPONENT Program)
install(FILES "${PROJECT_SOURCE_DIR}/resources/org.example.Metronel.desktop"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/applications"
    COMPONENT Program)
# The metainfo's release and the manual page name the project's version, filled in here.
configure_file("${PROJECT_SOURCE_DIR}/resources/org.example.Metronel.metainfo.xml"
    "${PROJECT_BINARY_DIR}/org.example.Metronel.metainfo.xml" @ONLY)
configure_file("${PROJECT_SOURCE_DIR}/resources/man/metronel.1"
    "${PROJECT_BINARY_DIR}/man/metronel.1" @ONLY)
install(FILES "${PROJECT_BINARY_DIR}/org.example.Metronel.metainfo.xml"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo"
    COMPONENT Program)
foreach(size IN LISTS METRONEL_ICON_SIZES)
    install(FILES "${METRONEL_ICON_DIR}/${size}x${size}/apps/metronel.png"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps"
        COMPONENT Program)
endforeach()
install(FILES "${PROJECT_SOURCE_DIR}/resources/hicolor/scalable/apps/metronel.svg"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps"
    COMPONENT Program)
install(FILES "${PROJECT_BINARY_DIR}/man/metronel.1"
    DESTINATION "${CMAKE_INSTALL_MANDIR}/man1"
    COMPONENT Program)

set(folders "${CMAKE_INSTALL_BINDIR}" "${CMAKE_INSTALL_DATADIR}/applications"
    "${CMAKE_INSTALL_DATADIR}/metainfo" "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps"
    "${CMAKE_INSTALL_MANDIR}/man1")
foreach(size IN LISTS METRONEL_ICON_SIZES)
    list(APPEND folders "${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps")
endforeach()
list(JOIN folders "\n" folders)
file(APPEND "${PROJECT_BINARY_DIR}/install_folders.txt" "${folders}\n")
