# Shared target settings: warnings, sanitizers and the one test helper.

if(VANDREL_SANITIZE STREQUAL "address")
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
elseif(VANDREL_SANITIZE STREQUAL "thread")
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
elseif(NOT VANDREL_SANITIZE STREQUAL "")
    message(FATAL_ERROR "VANDREL_SANITIZE must be empty, address or thread, not '${VANDREL_SANITIZE}'")
endif()

# Warnings for the project's own targets only; Qt and GoogleTest headers come in as system headers.
function(vandrel_warnings target)
    target_compile_options(${target} PRIVATE
        -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual)
    if(VANDREL_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
        if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
            # GCC 12 misreads std::string copies after inlining at -O3 (-Wrestrict);
            # keep the warning visible but do not fail the optimised build on it.
            target_compile_options(${target} PRIVATE -Wno-error=restrict)
        endif()
    endif()
endfunction()

# vandrel_add_test(<name> SOURCES <files...> [LIBS <targets...>] [LABELS <labels...>]
#                  [TIMEOUT <seconds>] [GUI] [QT_MAIN CORE|WIDGETS|APP] [NO_GTEST_MAIN]
#                  [PROPERTIES <ctest properties...>])
# One executable, one CTest test. GUI tests run on the offscreen platform. The main is
# GoogleTest's own, or with QT_MAIN the shared one of tests/support/QtTestMain.cpp, which
# creates a QCoreApplication (CORE), a QApplication (WIDGETS) or the program's own
# application object (APP) first; NO_GTEST_MAIN leaves the main to the test.
function(vandrel_add_test name)
    cmake_parse_arguments(T "GUI;NO_GTEST_MAIN" "TIMEOUT;QT_MAIN" "SOURCES;LIBS;LABELS;PROPERTIES" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    vandrel_warnings(${name})
    target_link_libraries(${name} PRIVATE ${T_LIBS})
    if(T_QT_MAIN)
        if(NOT T_QT_MAIN MATCHES "^(CORE|WIDGETS|APP)$")
            message(FATAL_ERROR "vandrel_add_test(${name}): QT_MAIN is CORE, WIDGETS or APP")
        endif()
        target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/QtTestMain.cpp)
        target_compile_definitions(${name} PRIVATE VANDREL_QT_MAIN_${T_QT_MAIN})
        target_link_libraries(${name} PRIVATE GTest::gtest GTest::gmock)
        if(T_QT_MAIN STREQUAL "CORE")
            target_link_libraries(${name} PRIVATE Qt6::Core)
        elseif(T_QT_MAIN STREQUAL "WIDGETS")
            target_link_libraries(${name} PRIVATE Qt6::Widgets)
        else()
            target_link_libraries(${name} PRIVATE vandrel_app)
        endif()
    elseif(NOT T_NO_GTEST_MAIN)
        target_link_libraries(${name} PRIVATE GTest::gtest_main GTest::gmock)
    endif()
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
    target_compile_definitions(${name} PRIVATE
        VANDREL_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
        VANDREL_BINARY_DIR="${PROJECT_BINARY_DIR}")
    add_test(NAME ${name} COMMAND ${name})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    if(NOT T_LABELS)
        set(T_LABELS unit)
    endif()
    set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}")
    if(T_GUI)
        set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT QT_QPA_PLATFORM=offscreen)
    endif()
    vandrel_sanitizer_environment(${name})
    if(T_PROPERTIES)
        set_tests_properties(${name} PROPERTIES ${T_PROPERTIES})
    endif()
endfunction()

# Gives a test the sanitizer settings of the build: under ThreadSanitizer the suppressions of
# tests/tsan.supp, and any report fails the test, also one that does not change its result.
function(vandrel_sanitizer_environment test)
    if(VANDREL_SANITIZE STREQUAL "thread")
        set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT
            "TSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/tsan.supp exitcode=66 halt_on_error=0 second_deadlock_stack=1")
    endif()
endfunction()

# A library of one subsystem: sources under src/<dir>, headers included as "<dir>/<file>.h".
function(vandrel_add_library name)
    cmake_parse_arguments(L "" "" "SOURCES;LIBS" ${ARGN})
    add_library(${name} STATIC ${L_SOURCES})
    vandrel_warnings(${name})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${L_LIBS})
endfunction()
