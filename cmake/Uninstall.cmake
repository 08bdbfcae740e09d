# SPDX-License-Identifier: MIT
# Removes what `cmake --install` put in place, and the folders it had to make for it.
#
# Included by the build, it adds a first install step that notes which of the project's
# install folders do not exist yet (into <build>/install_new_folders.txt), and an
# `uninstall` target. Run with `cmake -DBUILD_DIR=<build> -P Uninstall.cmake`, it removes
# every file in the build's install manifests, then each noted folder that is empty, and
# never a folder that was there before.

if(NOT CMAKE_SCRIPT_MODE_FILE)
    # The folders, relative to the prefix, that the install rules write into: every one
    # that the install makes may go again (cmake/Install.cmake sets the list).
    set(METRONEL_NEW_FOLDERS_LIST "${PROJECT_BINARY_DIR}/install_new_folders.txt")
    install(CODE "
        file(STRINGS \"${PROJECT_BINARY_DIR}/install_folders.txt\" folders)
        set(noted)
        if(EXISTS \"${METRONEL_NEW_FOLDERS_LIST}\")
            file(STRINGS \"${METRONEL_NEW_FOLDERS_LIST}\" noted)
        endif()
        set(top \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
        foreach(folder IN LISTS folders)
            if(IS_ABSOLUTE \"\${folder}\")
                set(path \"\$ENV{DESTDIR}\${folder}\")
            else()
                set(path \"\${top}/\${folder}\")
            endif()
            cmake_path(NORMAL_PATH path)
            while(NOT EXISTS \"\${path}\" AND NOT path STREQUAL top)
                list(APPEND noted \"\${path}\")
                cmake_path(GET path PARENT_PATH path)
            endwhile()
        endforeach()
        list(REMOVE_DUPLICATES noted)
        list(JOIN noted \"\\n\" noted)
        file(WRITE \"${METRONEL_NEW_FOLDERS_LIST}\" \"\${noted}\\n\")"
        ALL_COMPONENTS)
    add_custom_target(uninstall
        COMMAND "${CMAKE_COMMAND}" "-DBUILD_DIR=${PROJECT_BINARY_DIR}"
                -P "${CMAKE_CURRENT_LIST_FILE}"
        COMMENT "Removing what cmake --install put in place"
        VERBATIM)
    return()
endif()

file(GLOB manifests "${BUILD_DIR}/install_manifest*.txt")
if(NOT manifests)
    message(FATAL_ERROR "Nothing to uninstall: ${BUILD_DIR} has no install_manifest.txt")
endif()
foreach(manifest IN LISTS manifests)
    file(STRINGS "${manifest}" files)
    foreach(file IN LISTS files)
        if(EXISTS "${file}" OR IS_SYMLINK "${file}")
            message(STATUS "Removing ${file}")
            file(REMOVE "${file}")
            if(EXISTS "${file}" OR IS_SYMLINK "${file}")
                message(FATAL_ERROR "Could not remove ${file}")
            endif()
        endif()
    endforeach()
endforeach()

set(list "${BUILD_DIR}/install_new_folders.txt")
set(folders)
if(EXISTS "${list}")
    file(STRINGS "${list}" folders)
endif()
# A folder sorts after its parent, so the deepest come first.
list(SORT folders ORDER DESCENDING)
set(kept)
foreach(folder IN LISTS folders)
    if(NOT IS_DIRECTORY "${folder}")
        continue()
    endif()
    file(GLOB children LIST_DIRECTORIES true "${folder}/*")
    if(children)
        list(APPEND kept "${folder}")
    else()
        message(STATUS "Removing ${folder}/")
        file(REMOVE_RECURSE "${folder}")
    endif()
endforeach()
file(REMOVE ${manifests})
if(kept)
    list(JOIN kept "\n" kept)
    file(WRITE "${list}" "${kept}\n")
else()
    file(REMOVE "${list}")
endif()
