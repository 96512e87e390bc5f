# sw_add_test(<label> SOURCES <files...> [LIBS <targets...>] [TIMEOUT <s>] [LOCKS <resources...>])
#
# One GoogleTest program per source folder, named test_<label> and registered with CTest
# under the label <label>. Under the cross build CTest runs it through Wine.
function(sw_add_test label)
    cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LOCKS" ${ARGN})
    set(target test_${label})
    add_executable(${target} ${T_SOURCES})
    target_link_libraries(${target} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
    target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR})
    add_test(NAME ${label} COMMAND ${target} --gtest_color=no)
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 600)
    endif()
    set_tests_properties(${label} PROPERTIES LABELS ${label} TIMEOUT ${T_TIMEOUT}
        ENVIRONMENT "SW_SOURCE_DIR=${CMAKE_SOURCE_DIR};SW_BINARY_DIR=${CMAKE_BINARY_DIR}")
    if(T_LOCKS)
        set_tests_properties(${label} PROPERTIES RESOURCE_LOCK "${T_LOCKS}")
    endif()
endfunction()
