# Run by CPack between the install into its staging folder and the packing: every folder of the
# package becomes 0755, as dpkg wants, whatever the umask of the machine that packages. The files
# already have their modes from the install rules.
file(GLOB_RECURSE entries LIST_DIRECTORIES true "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
foreach(entry ${CPACK_TEMPORARY_INSTALL_DIRECTORY} ${entries})
    if(IS_DIRECTORY ${entry} AND NOT IS_SYMLINK ${entry})
        file(CHMOD ${entry} DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                                  WORLD_READ WORLD_EXECUTE)
    endif()
endforeach()
