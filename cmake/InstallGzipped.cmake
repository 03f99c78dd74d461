# Installs SOURCE compressed as <name>.gz into DESTINATION, made at build time (gzip -9n:
# no name or time stamp, so the result is reproducible), as Debian wants manuals and changelogs.
function(hotspot_install_gzipped target source destination)
    get_filename_component(_name ${source} NAME)
    set(_gz ${CMAKE_CURRENT_BINARY_DIR}/${_name}.gz)
    add_custom_command(OUTPUT ${_gz}
        COMMAND sh -c "gzip -9n -c \"$0\" > \"$1\"" ${source} ${_gz}
        DEPENDS ${source}
        VERBATIM)
    add_custom_target(${target} ALL DEPENDS ${_gz})
    install(FILES ${_gz} DESTINATION ${destination})
endfunction()
