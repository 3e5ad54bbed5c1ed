# SPDX-License-Identifier: MIT
# Read by cpack once for each generator.
if(CPACK_GENERATOR STREQUAL "DEB" AND NOT CPACK_VANTREL_SYSTEM_PREFIX STREQUAL "/usr")
    message(FATAL_ERROR "A .deb installs under /usr: configure with -DVANTREL_SYSTEM_PREFIX=/usr "
                        "(this build has ${CPACK_VANTREL_SYSTEM_PREFIX}).")
endif()
if(CPACK_GENERATOR STREQUAL "TGZ")
    # The application folder alone, at the top of the archive.
    set(CPACK_INSTALL_CMAKE_PROJECTS "${CPACK_VANTREL_BINARY_DIR};Vantrel;application;/")
    set(CPACK_PACKAGING_INSTALL_PREFIX /)
endif()
