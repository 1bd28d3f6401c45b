# `cpack --preset windows` makes the release zip for Windows users from the Windows build: one
# folder with update-hub.exe, the example programs, the demo configuration and README.txt. The
# libraries, the header and the CMake and pkg-config files are left out: they serve builds.
set(CPACK_PACKAGE_NAME update-hub)
set(CPACK_PACKAGE_VENDOR update-hub)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Keeps software modules up to date through an updater")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
if(WIN32)
    set(CPACK_SYSTEM_NAME windows-x86_64)
endif()
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
set(CPACK_GENERATOR ZIP)
set(CPACK_COMPONENTS_ALL hub)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_ARCHIVE_FILE_NAME ${CPACK_PACKAGE_FILE_NAME})
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
include(CPack)
