# libFuzzer targets (VANDREL_FUZZ=ON, clang only).
#
# vandrel_add_fuzz_target(<name> SOURCES <files...> [LIBS <targets...>] CORPUS <dir>)
#
# Builds <name> with libFuzzer, AddressSanitizer and undefined-behaviour checks. <dir> is
# the target's seed corpus under tests/data/fuzz/. Every target is listed in
# <build>/fuzz-targets.txt (name, executable, corpus; tab-separated), which scripts/fuzz
# reads, and belongs to the target fuzz_targets. Without VANDREL_FUZZ nothing is built.

if(VANDREL_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "VANDREL_FUZZ needs clang (CC=clang CXX=clang++)")
    endif()
    if(NOT VANDREL_SANITIZE STREQUAL "")
        message(FATAL_ERROR "VANDREL_FUZZ brings its own sanitizers; leave VANDREL_SANITIZE empty")
    endif()
    # Everything the targets link is instrumented too, so the fuzzer sees the coverage of
    # the code under test and not only of the entry function.
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
        -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
    add_custom_target(fuzz_targets)
endif()

function(vandrel_add_fuzz_target name)
    if(NOT VANDREL_FUZZ)
        return()
    endif()
    cmake_parse_arguments(F "" "CORPUS" "SOURCES;LIBS" ${ARGN})
    set(corpus ${PROJECT_SOURCE_DIR}/tests/data/fuzz/${F_CORPUS})
    if(NOT F_CORPUS OR NOT IS_DIRECTORY ${corpus})
        message(FATAL_ERROR "vandrel_add_fuzz_target(${name}): CORPUS must name a folder of tests/data/fuzz")
    endif()
    add_executable(${name} ${F_SOURCES})
    vandrel_warnings(${name})
    set_target_properties(${name} PROPERTIES AUTOMOC OFF)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name} PRIVATE ${F_LIBS})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
    add_dependencies(fuzz_targets ${name})
    set_property(GLOBAL APPEND PROPERTY VANDREL_FUZZ_LIST "${name}\t$<TARGET_FILE:${name}>\t${corpus}\n")
endfunction()

# Called once at the end of the top-level CMakeLists.txt.
function(vandrel_write_fuzz_list)
    if(NOT VANDREL_FUZZ)
        return()
    endif()
    get_property(lines GLOBAL PROPERTY VANDREL_FUZZ_LIST)
    string(REPLACE ";" "" lines "${lines}")
    file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/fuzz-targets.txt CONTENT "${lines}")
endfunction()
