# The support address, the program's icons, and what `cmake --install` puts where: the
# program with its desktop entry and icons, and Chunkwell with its headers and a package
# configuration for find_package(Chunkwell).

include(CMakePackageConfigHelpers)

set(CHUNKWELL_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/Chunkwell")

# ---- Chunkwell ----

# The public headers use std::span and concepts, so every user needs C++20.
target_compile_features(chunkwell INTERFACE cxx_std_20)

install(TARGETS chunkwell
    EXPORT ChunkwellTargets
    LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}")
install(DIRECTORY "${PROJECT_SOURCE_DIR}/chunkwell/include/chunkwell"
    DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}"
    FILES_MATCHING PATTERN "*.h")
install(EXPORT ChunkwellTargets
    NAMESPACE Chunkwell::
    DESTINATION "${CHUNKWELL_CMAKE_DIR}")

configure_package_config_file(
    "${CMAKE_CURRENT_LIST_DIR}/ChunkwellConfig.cmake.in"
    "${PROJECT_BINARY_DIR}/ChunkwellConfig.cmake"
    INSTALL_DESTINATION "${CHUNKWELL_CMAKE_DIR}")
# The major version is the library's SONAME: a new one breaks its users.
write_basic_package_version_file(
    "${PROJECT_BINARY_DIR}/ChunkwellConfigVersion.cmake"
    VERSION "${PROJECT_VERSION}"
    COMPATIBILITY SameMajorVersion)
install(FILES
    "${PROJECT_BINARY_DIR}/ChunkwellConfig.cmake"
    "${PROJECT_BINARY_DIR}/ChunkwellConfigVersion.cmake"
    DESTINATION "${CHUNKWELL_CMAKE_DIR}")

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
target_link_libraries(metronel_icons PRIVATE Qt6::Gui)
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

install(TARGETS metronel RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(FILES "${PROJECT_SOURCE_DIR}/resources/metronel.desktop"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
foreach(size IN LISTS METRONEL_ICON_SIZES)
    install(FILES "${METRONEL_ICON_DIR}/${size}x${size}/apps/metronel.png"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps")
endforeach()
