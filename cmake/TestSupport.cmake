# GoogleTest for both builds, and the Wine runner for the cross build.
if(WIN32)
    # Debian ships GoogleTest as sources; the cross build compiles them itself.
    set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

    set(ILVARC_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Wine prefix for the tests")
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        set(ILVARC_WINE_LOADER /usr/lib/wine/wine64)
        set(ILVARC_WINE_SERVER /usr/lib/wine/wineserver64)
        set(ILVARC_WINE_ARCH win64)
    else()
        set(ILVARC_WINE_LOADER /usr/lib/wine/wine)
        set(ILVARC_WINE_SERVER /usr/lib/wine/wineserver32)
        set(ILVARC_WINE_ARCH win32)
    endif()
    configure_file(${CMAKE_SOURCE_DIR}/cmake/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh
                   @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                   GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)
else()
    find_package(GTest REQUIRED)
    include(GoogleTest)
endif()

# One test binary; natively each case is its own CTest test, under Wine the binary runs whole
# (a Wine start per case would cost more than the cases).
function(ilvarc_add_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest_main ilvarc_warnings)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
    if(WIN32)
        add_test(NAME ${name} COMMAND ${name})
        set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77)
    else()
        gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST)
    endif()
endfunction()
