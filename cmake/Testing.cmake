# sw_add_test(<label> SOURCES <files...> [LIBS <targets...>] [TIMEOUT <s>] [LOCKS <resources...>]
#             [PARTS <name> <gtest filter> ...])
#
# One GoogleTest program per source folder, named test_<label> and registered with CTest
# under the label <label>. Under the cross build CTest runs it through Wine.
#
# PARTS runs named groups of the program's tests as CTest tests of their own (<label>_<name>),
# each in a fresh process: long real-device runs then start from a clean driver state and a
# failure names its group. The CTest test <label> runs every test that no part names.
function(sw_add_test label)
    cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LOCKS;PARTS" ${ARGN})
    set(target test_${label})
    add_executable(${target} ${T_SOURCES})
    target_link_libraries(${target} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
    target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 600)
    endif()

    set(names ${label})
    set(rest "")
    while(T_PARTS)
        list(POP_FRONT T_PARTS part filter)
        add_test(NAME ${label}_${part} COMMAND ${target} --gtest_color=no --gtest_filter=${filter})
        list(APPEND names ${label}_${part})
        string(APPEND rest ":${filter}")
    endwhile()
    if(rest)
        string(SUBSTRING "${rest}" 1 -1 rest)
        add_test(NAME ${label} COMMAND ${target} --gtest_color=no --gtest_filter=-${rest})
    else()
        add_test(NAME ${label} COMMAND ${target} --gtest_color=no)
    endif()

    set_tests_properties(${names} PROPERTIES LABELS ${label} TIMEOUT ${T_TIMEOUT}
        ENVIRONMENT "SW_SOURCE_DIR=${CMAKE_SOURCE_DIR};SW_BINARY_DIR=${CMAKE_BINARY_DIR}")
    if(T_LOCKS)
        set_tests_properties(${names} PROPERTIES RESOURCE_LOCK "${T_LOCKS}")
    endif()
endfunction()
