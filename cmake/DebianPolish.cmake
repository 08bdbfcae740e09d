# SPDX-License-Identifier: MIT
# Run by CPack on the staged files of every package before it packs them: compresses the
# manual pages and puts the changelog beside each package's copyright file.

file(GLOB_RECURSE staged LIST_DIRECTORIES false "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(file IN LISTS staged)
    if(file MATCHES "/share/man/man[^/]*/[^/]+$" AND NOT file MATCHES "\\.gz$"
       AND NOT IS_SYMLINK "${file}")
        execute_process(COMMAND gzip -9nf "${file}" COMMAND_ERROR_IS_FATAL ANY)
    elseif(file MATCHES "/share/doc/[^/]+/copyright$")
        get_filename_component(doc "${file}" DIRECTORY)
        file(COPY_FILE "${CPACK_METRONEL_CHANGELOG}" "${doc}/changelog")
        execute_process(COMMAND gzip -9nf "${doc}/changelog" COMMAND_ERROR_IS_FATAL ANY)
    endif()
endforeach()
