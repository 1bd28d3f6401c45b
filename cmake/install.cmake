# What `cmake --install` puts in place:
#   bin/update-hub                            the program
#   share/update-hub/examples/                the example programs and the demo configuration
#   include/update-hub/json.h                 the JSON library's one public header
#   lib/libupdate-hub-json.a, -support.a      the JSON library and the support library it needs
#   lib/cmake/update-hub/                     the CMake package: update-hub::json, ::support
#   lib/pkgconfig/update-hub-json.pc          the same library for pkg-config
# The Windows build installs the program, the example programs, the demo configuration and a
# how-to text side by side in one folder, which is what its zip holds (see package.cmake).
include(CMakePackageConfigHelpers)

if(WIN32)
    set(HUB_INSTALL_PROGRAM_DIR .)
    set(HUB_INSTALL_EXAMPLES_DIR .)
else()
    set(HUB_INSTALL_PROGRAM_DIR ${CMAKE_INSTALL_BINDIR})
    set(HUB_INSTALL_EXAMPLES_DIR ${CMAKE_INSTALL_DATADIR}/update-hub/examples)
endif()
set(HUB_INSTALL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/update-hub)
set(HUB_INSTALL_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(TARGETS update-hub RUNTIME DESTINATION ${HUB_INSTALL_PROGRAM_DIR} COMPONENT hub)
install(TARGETS update-hub-example-query update-hub-example-updater
        RUNTIME DESTINATION ${HUB_INSTALL_EXAMPLES_DIR} COMPONENT hub)
set(HUB_DEMO_DIR ${PROJECT_SOURCE_DIR}/examples/demo)
install(FILES ${HUB_DEMO_DIR}/hub.json ${HUB_DEMO_DIR}/office-answer.json
              ${HUB_DEMO_DIR}/tools-answer.json
        DESTINATION ${HUB_INSTALL_EXAMPLES_DIR} COMPONENT hub)
if(WIN32)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/windows/README.txt DESTINATION . COMPONENT hub)
endif()

# The libraries are C++: a C program that links them is linked by the C compiler, which does not
# bring the C++ run-time libraries they need (those the C++ compiler links beyond the C
# compiler's own). The installed CMake targets and the .pc file name them themselves; in a
# build tree CMake already links such a program with the C++ compiler.
set(HUB_CXX_RUNTIME ${CMAKE_CXX_IMPLICIT_LINK_LIBRARIES})
list(REMOVE_ITEM HUB_CXX_RUNTIME ${CMAKE_C_IMPLICIT_LINK_LIBRARIES})
list(REMOVE_DUPLICATES HUB_CXX_RUNTIME)
set(HUB_PKGCONFIG_CXX_RUNTIME "")
foreach(library IN LISTS HUB_CXX_RUNTIME)
    target_link_libraries(update_hub_support INTERFACE $<INSTALL_INTERFACE:${library}>)
    string(APPEND HUB_PKGCONFIG_CXX_RUNTIME " -l${library}")
endforeach()

install(TARGETS update_hub_json update_hub_support EXPORT update-hub-targets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
install(FILES ${PROJECT_SOURCE_DIR}/src/json/json.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/update-hub
        COMPONENT development)
install(EXPORT update-hub-targets NAMESPACE update-hub:: FILE update-hub-targets.cmake
        DESTINATION ${HUB_INSTALL_CMAKE_DIR} COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/update-hub-config.cmake.in
    ${PROJECT_BINARY_DIR}/update-hub-config.cmake INSTALL_DESTINATION ${HUB_INSTALL_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/update-hub-config-version.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/update-hub-config.cmake
              ${PROJECT_BINARY_DIR}/update-hub-config-version.cmake
        DESTINATION ${HUB_INSTALL_CMAKE_DIR} COMPONENT development)

# The .pc file names its prefix relative to its own folder, so the installed tree can move.
file(RELATIVE_PATH HUB_PKGCONFIG_TO_PREFIX /prefix/${HUB_INSTALL_PKGCONFIG_DIR} /prefix)
configure_file(${PROJECT_SOURCE_DIR}/cmake/update-hub-json.pc.in ${PROJECT_BINARY_DIR}/update-hub-json.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/update-hub-json.pc DESTINATION ${HUB_INSTALL_PKGCONFIG_DIR}
        COMPONENT development)
