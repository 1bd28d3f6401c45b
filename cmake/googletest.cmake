# GoogleTest: Debian's libgtest-dev natively, built from Debian's googletest sources (with the
# cross compiler) for Windows. hub_add_unit_test() adds one test binary.
if(CMAKE_CROSSCOMPILING)
    set(GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
    if(NOT EXISTS ${GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
        message(FATAL_ERROR "GoogleTest sources not found in ${GOOGLETEST_SOURCE_DIR}: "
                            "install Debian's googletest package")
    endif()
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(${GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    # The googletest sources define the GTest:: aliases themselves.
else()
    find_package(GTest REQUIRED)
    include(GoogleTest)
endif()

function(hub_add_unit_test name)
    add_executable(${name} ${ARGN})
    target_link_libraries(${name} PRIVATE update_hub_test_support update_hub_core GTest::gtest
                          GTest::gtest_main)
    if(CMAKE_CROSSCOMPILING)
        # One Wine start per binary: starting Wine per test case would take minutes.
        add_test(NAME ${name} COMMAND ${name})
        set_tests_properties(${name} PROPERTIES ENVIRONMENT "WINEDEBUG=-all")
    else()
        gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 NO_PRETTY_VALUES)
    endif()
endfunction()
