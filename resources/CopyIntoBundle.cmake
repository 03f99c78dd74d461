# Copies the firmware package and the adb/fastboot executables into the bundle's resources.
# Run with cmake -P; -DDEST, and optionally -DPACKAGE_DIR, -DADB, -DFASTBOOT.
# A missing tool is a warning: the bundle is still usable for development without it.

if(PACKAGE_DIR)
    if(IS_DIRECTORY "${PACKAGE_DIR}")
        # Keeps timestamps, so unchanged images are not copied again.
        file(COPY "${PACKAGE_DIR}/" DESTINATION "${DEST}" USE_SOURCE_PERMISSIONS)
    else()
        message(WARNING "package folder ${PACKAGE_DIR} not found; the bundle ships without a package")
    endif()
endif()

foreach(_name adb fastboot)
    string(TOUPPER ${_name} _var)
    set(_src "${${_var}}")
    if(NOT _src)
        continue()
    endif()
    if(NOT EXISTS "${_src}")
        message(WARNING "${_name} executable ${_src} not found; the bundle ships without it")
        continue()
    endif()
    # The tool may be reached through a symlink (/usr/bin/adb): copy what it points to.
    get_filename_component(_real "${_src}" REALPATH)
    file(COPY_FILE "${_real}" "${DEST}/${_name}" ONLY_IF_DIFFERENT)
    file(CHMOD "${DEST}/${_name}" PERMISSIONS
        OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endforeach()
