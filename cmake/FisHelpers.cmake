# Adds a folder of the build; one that is listed but missing is an error, not silently skipped.
function(fis_add_subdirectory dir)
    if(NOT EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
        message(FATAL_ERROR "${dir} is listed in the build but has no CMakeLists.txt")
    endif()
    add_subdirectory(${dir})
endfunction()

# fis_include_root(target name [FOLDER dir]): the target's headers are included as
# "name/header.h" through an include root of the target's own, which holds that one name and
# nothing else (a link to the target's folder, or to `dir`). So a file sees a library's headers
# only when its target links that library. `name` may have two parts ("hostfw/widgets").
function(fis_include_root target name)
    cmake_parse_arguments(R "" "FOLDER" "" ${ARGN})
    if(NOT R_FOLDER)
        set(R_FOLDER ${CMAKE_CURRENT_SOURCE_DIR})
    endif()
    set(root ${CMAKE_BINARY_DIR}/include/${target})
    get_filename_component(parent ${root}/${name} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${R_FOLDER} ${root}/${name} SYMBOLIC)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY")
        target_include_directories(${target} INTERFACE ${root})
    else()
        target_include_directories(${target} PUBLIC ${root})
    endif()
endfunction()

# fis_add_test(tst_name SOURCES a.cpp ... LIBS lib ... [LABELS l ...] [TIMEOUT s])
# One test executable per unit, run by ctest on Qt's offscreen platform, in the C locale so that
# nothing depends on the machine's language.
function(fis_add_test name)
    cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE fis_options Qt6::Test ${T_LIBS})
    add_test(NAME ${name} COMMAND ${name})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    set_tests_properties(${name} PROPERTIES
        TIMEOUT ${T_TIMEOUT}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LC_ALL=C;LANG=C;FIS_SOURCE_DIR=${FIS_SOURCE_DIR};FIS_BIN_DIR=${CMAKE_BINARY_DIR}/bin;FIS_LIB_DIR=${CMAKE_BINARY_DIR}/lib;ASAN_OPTIONS=detect_leaks=0"
        LABELS "${T_LABELS}")
endfunction()

# fis_add_bench(name SOURCES ... LIBS ...): a benchmark program that prints its figures.
function(fis_add_bench name)
    cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${B_SOURCES})
    target_link_libraries(${name} PRIVATE fis_options ${B_LIBS})
endfunction()

# fis_add_desktop_run(name target [COMPOSITED]): runs a test program once more on a real X display
# of its own (Xvfb with a window manager, tests/desktop/run-on-desktop), where key bindings,
# activation and painting are those of a desktop; COMPOSITED adds a compositing manager.
function(fis_add_desktop_run name target)
    cmake_parse_arguments(D "COMPOSITED" "" "" ${ARGN})
    set(compositor 0)
    if(D_COMPOSITED)
        set(compositor 1)
    endif()
    add_test(NAME ${name} COMMAND ${FIS_SOURCE_DIR}/tests/desktop/run-on-desktop
        $<TARGET_FILE:${target}>)
    set_tests_properties(${name} PROPERTIES
        TIMEOUT 300
        ENVIRONMENT "FIS_DESKTOP_COMPOSITOR=${compositor};LC_ALL=C;LANG=C;FIS_SOURCE_DIR=${FIS_SOURCE_DIR};FIS_BIN_DIR=${CMAKE_BINARY_DIR}/bin;FIS_LIB_DIR=${CMAKE_BINARY_DIR}/lib;ASAN_OPTIONS=detect_leaks=0"
        LABELS "desktop")
endfunction()
