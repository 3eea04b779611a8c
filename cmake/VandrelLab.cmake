# Tests that need simulated devices on a real (namespaced) network.
#
# vandrel_add_lab_test(<name> SOURCES <files...> [LIBS <targets...>] DEVICES <n> [SUBNETS <s>]
#                      [DEVSIM_ARGS "<options for every simulator>"]
#                      [DEVICE_ARGS "<k>:<options for simulator k>" ...]
#                      [TIMEOUT <seconds>] [GUI] [QT_MAIN CORE|WIDGETS|APP] [NO_GTEST_MAIN]
#                      [PROPERTIES <ctest properties...>])
#
# Builds the test like vandrel_add_test() and wraps it in three CTest tests:
# <name>_lab_up brings up a lab of its own with <n> devices, <name> runs inside the
# lab's app namespace (198.18.0.2; devices at 198.18.0.11 and up) and <name>_lab_down
# removes the lab, also when the test failed. With SUBNETS the lab has s subnets (device k
# on subnet (k-1) mod s, see scripts/lab). Labels: lab. Without root the three are
# skipped with the reason; with CI=true they fail instead of skipping.
function(vandrel_add_lab_test name)
    cmake_parse_arguments(L "GUI;NO_GTEST_MAIN" "DEVICES;SUBNETS;TIMEOUT;DEVSIM_ARGS;QT_MAIN"
        "SOURCES;LIBS;DEVICE_ARGS;PROPERTIES" ${ARGN})
    if(NOT L_DEVICES MATCHES "^[0-9]+$")
        message(FATAL_ERROR "vandrel_add_lab_test(${name}): DEVICES <n> is required")
    endif()
    set(flags)
    if(L_GUI)
        list(APPEND flags GUI)
    endif()
    if(L_NO_GTEST_MAIN)
        list(APPEND flags NO_GTEST_MAIN)
    endif()
    if(L_QT_MAIN)
        list(APPEND flags QT_MAIN ${L_QT_MAIN})
    endif()
    if(NOT L_TIMEOUT)
        set(L_TIMEOUT 120)
    endif()
    vandrel_add_test(${name} SOURCES ${L_SOURCES} LIBS ${L_LIBS} LABELS lab
        TIMEOUT ${L_TIMEOUT} ${flags})
    add_dependencies(${name} vandrel-devsim)

    # One lab per test and build tree, so parallel tests and parallel builds never share one.
    string(MD5 hash "${PROJECT_BINARY_DIR}/${name}")
    string(SUBSTRING "${hash}" 0 12 hash)
    set(lab "t${hash}")
    set(fixture "${PROJECT_SOURCE_DIR}/tests/support/lab-fixture")

    set(up_args ${L_DEVICES})
    if(L_SUBNETS)
        list(APPEND up_args --subnets ${L_SUBNETS})
    endif()
    if(DEFINED L_DEVSIM_ARGS)
        list(APPEND up_args --devsim-args "${L_DEVSIM_ARGS}")
    endif()
    foreach(entry IN LISTS L_DEVICE_ARGS)
        if(NOT entry MATCHES "^([0-9]+):(.*)$")
            message(FATAL_ERROR "vandrel_add_lab_test(${name}): DEVICE_ARGS entries are \"k:options\"")
        endif()
        list(APPEND up_args --device-args ${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
    endforeach()

    # The test command itself stays `${name}`; the launcher puts it into the lab.
    set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR "${fixture};run;${lab}")
    add_test(NAME ${name}_lab_up COMMAND ${fixture} setup ${lab} ${up_args})
    add_test(NAME ${name}_lab_down COMMAND ${fixture} cleanup ${lab})
    set(env "VANDREL_DEVSIM=$<TARGET_FILE:vandrel-devsim>")
    set_tests_properties(${name}_lab_up PROPERTIES FIXTURES_SETUP ${name}_lab
        LABELS lab TIMEOUT 60 SKIP_RETURN_CODE 77 ENVIRONMENT "${env}")
    set_tests_properties(${name}_lab_down PROPERTIES FIXTURES_CLEANUP ${name}_lab
        LABELS lab TIMEOUT 60 SKIP_RETURN_CODE 77)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED ${name}_lab SKIP_RETURN_CODE 77)
    set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT "${env}")
    if(L_PROPERTIES)
        set_tests_properties(${name} PROPERTIES ${L_PROPERTIES})
    endif()
endfunction()
