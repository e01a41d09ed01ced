# Helpers shared by every part of the tree.

# The runnable program directory that the build stages.
set(ROMSMITH_STAGE_DIR ${CMAKE_BINARY_DIR}/romsmith)
file(MAKE_DIRECTORY ${ROMSMITH_STAGE_DIR})

# romsmith_library_headers(): the standard headers the libraries' sources
# start with, parsed once into a precompiled header that every
# romsmith_library reuses. Parsing them is over half the compile time of a
# typical library source, optimised as it is.
function(romsmith_library_headers)
  file(WRITE ${CMAKE_BINARY_DIR}/library_headers.cpp
       "// Written by the build: the owner of the libraries' precompiled header.\n")
  add_library(romsmith_library_headers STATIC ${CMAKE_BINARY_DIR}/library_headers.cpp)
  set(headers <algorithm> <array> <chrono> <cstdint> <cstdio> <cstring> <filesystem> <functional>
    <memory> <optional> <string> <string_view> <system_error> <vector>)
  target_precompile_headers(romsmith_library_headers PRIVATE ${headers})
  # The same for the front-end libraries of a sanitizer build, unoptimised
  # as they are there (see romsmith_front_end_code).
  if(ROMSMITH_SANITIZE)
    add_library(romsmith_front_end_headers STATIC ${CMAKE_BINARY_DIR}/library_headers.cpp)
    target_precompile_headers(romsmith_front_end_headers PRIVATE ${headers})
    romsmith_front_end_code(romsmith_front_end_headers)
  endif()
endfunction()

# romsmith_front_end_code(TARGET): in the sanitizer builds, the front ends
# (the window, the command line, the target files they read) compile
# without optimisation. No test spends its time in them: that goes to the
# board, the modules and the operations, which keep theirs. Under the
# sanitizers an optimised source costs twice the compile time.
function(romsmith_front_end_code target)
  if(ROMSMITH_SANITIZE)
    target_compile_options(${target} PRIVATE -O0)
  endif()
endfunction()

# romsmith_library(NAME SOURCES... [LIBS ...]): a static core library with its
# directory's parent on the include path, so code includes "formats/ini.h".
function(romsmith_library name)
  cmake_parse_arguments(ARG "FRONT_END" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  if(ARG_FRONT_END AND ROMSMITH_SANITIZE)
    romsmith_front_end_code(${name})
    target_precompile_headers(${name} REUSE_FROM romsmith_front_end_headers)
  else()
    target_precompile_headers(${name} REUSE_FROM romsmith_library_headers)
  endif()
  if(ARG_LIBS)
    target_link_libraries(${name} PUBLIC ${ARG_LIBS})
  endif()
endfunction()

# Tests and benchmarks find the tree, the program directory and the built
# programs through romsmith_build_locations: linking it includes
# tests/build_locations.h ahead of the target's sources (ROMSMITH_SOURCE_DIR,
# ROMSMITH_STAGE_DIR, ROMSMITH_CLI, ROMSMITH_XDL_TOOL,
# ROMSMITH_TEST_DRIVER_DIR), whose values this one generated source holds.
# Paths of the checkout stay out of every other compile command, so a clone
# elsewhere hits the compiler cache (CCACHE_BASEDIR makes the rest relative).
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/build_locations.cpp CONTENT
"// Written by the build: where this build's tests find things.
#include \"tests/build_locations.h\"

const char romsmith_source_dir[] = \"${PROJECT_SOURCE_DIR}\";
const char romsmith_stage_dir[] = \"${ROMSMITH_STAGE_DIR}\";
const char romsmith_cli_program[] = \"$<TARGET_FILE:romsmith-cli>\";
const char romsmith_xdl_program[] = \"$<TARGET_FILE:romsmith-xdl>\";
const char romsmith_test_driver_dir[] = \"$<TARGET_FILE_DIR:romsmith_test_driver>\";
")
add_library(romsmith_build_location_values STATIC ${CMAKE_BINARY_DIR}/build_locations.cpp)
target_include_directories(romsmith_build_location_values PRIVATE ${PROJECT_SOURCE_DIR})
add_library(romsmith_build_locations INTERFACE)
target_link_libraries(romsmith_build_locations INTERFACE romsmith_build_location_values)
target_compile_options(romsmith_build_locations INTERFACE
  -include ${PROJECT_SOURCE_DIR}/tests/build_locations.h)

# romsmith_test_code(TARGET): a test program's own sources compile without
# optimisation. They drive and compare; the work they exercise runs in the
# libraries, built as they ship. Optimised, a test source costs three times
# the compile time, and six times under the sanitizers, for no run time a
# test would notice.
function(romsmith_test_code target)
  target_compile_options(${target} PRIVATE -O0)
endfunction()

# romsmith_test_headers(): the headers every GoogleTest program starts with,
# the build locations first, parsed once into a precompiled header that the
# programs of romsmith_test reuse. Parsing GoogleTest and GoogleMock is half
# the compile time of an unoptimised test source. The programs compile with
# this program's flags, or the compiler refuses the header (and -Werror with
# it the build).
function(romsmith_test_headers)
  add_executable(romsmith_test_headers ${PROJECT_SOURCE_DIR}/tests/test_headers.cpp)
  target_include_directories(romsmith_test_headers PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(romsmith_test_headers PRIVATE romsmith_build_location_values GTest::gtest
                        GTest::gmock GTest::gtest_main)
  romsmith_test_code(romsmith_test_headers)
  target_precompile_headers(romsmith_test_headers PRIVATE
    ${PROJECT_SOURCE_DIR}/tests/build_locations.h <gtest/gtest.h> <gmock/gmock.h> <algorithm>
    <chrono> <cstdint> <cstdio> <cstring> <filesystem> <fstream> <functional> <map> <memory>
    <optional> <sstream> <string> <thread> <vector>)
endfunction()

# romsmith_test(NAME SOURCES... [LIBS ...]): a GoogleTest program run by ctest.
function(romsmith_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} romsmith_build_location_values GTest::gtest
                        GTest::gmock GTest::gtest_main)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  romsmith_test_code(${name})
  target_precompile_headers(${name} REUSE_FROM romsmith_test_headers)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "ROMSMITH_TEST=1")
endfunction()

# romsmith_benchmark(NAME SOURCES... [LIBS ...]): a Google Benchmark program
# (built when the library is installed, never run by ctest).
function(romsmith_benchmark name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT TARGET benchmark::benchmark)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} romsmith_build_locations benchmark::benchmark
                        benchmark::benchmark_main)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endfunction()

# romsmith_stage_executable(TARGET [SUBDIR dir]): put a program into the
# program directory.
function(romsmith_stage_executable target)
  cmake_parse_arguments(ARG "" "SUBDIR" "" ${ARGN})
  set_target_properties(${target} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${ROMSMITH_STAGE_DIR}/${ARG_SUBDIR})
endfunction()

# romsmith_module(TARGET SUBDIR dir OUTPUT name SOURCES ...): a shared library
# loaded at run time (driver module, port library), staged without "lib"
# prefix and with hidden symbols; the sources mark their exports.
function(romsmith_module target)
  cmake_parse_arguments(ARG "" "SUBDIR;OUTPUT" "SOURCES;LIBS" ${ARGN})
  add_library(${target} MODULE ${ARG_SOURCES})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
  if(ARG_LIBS)
    target_link_libraries(${target} PRIVATE ${ARG_LIBS})
  endif()
  set_target_properties(${target} PROPERTIES
    PREFIX "" OUTPUT_NAME ${ARG_OUTPUT}
    C_VISIBILITY_PRESET hidden CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON
    LIBRARY_OUTPUT_DIRECTORY ${ROMSMITH_STAGE_DIR}/${ARG_SUBDIR})
  # Every symbol a module uses must resolve at link time, except clang's
  # sanitizer runtimes: clang links them into the loading program only.
  if(NOT (ROMSMITH_SANITIZE AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang"))
    target_link_options(${target} PRIVATE -Wl,--no-undefined)
  endif()
endfunction()

# romsmith_fuzzer(NAME SOURCES... [LIBS ...]): a libFuzzer target NAME_fuzz,
# built only in a fuzzing build (ROMSMITH_FUZZ) and run by `make fuzz`, never
# by ctest. Its seed corpus is the directory's fuzz/corpus/NAME, where
# tools/run-fuzzers.sh looks for it.
function(romsmith_fuzzer name)
  if(NOT ROMSMITH_FUZZ)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name}_fuzz ${ARG_SOURCES})
  target_include_directories(${name}_fuzz PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name}_fuzz PRIVATE ${ARG_LIBS})
  target_link_options(${name}_fuzz PRIVATE -fsanitize=fuzzer)
  target_compile_definitions(${name}_fuzz PRIVATE ROMSMITH_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  set_target_properties(${name}_fuzz PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  if(NOT TARGET fuzzers)
    add_custom_target(fuzzers)
  endif()
  add_dependencies(fuzzers ${name}_fuzz)
endfunction()

# romsmith_leave_out_benchmarks(DIR): every program of DIR and the folders
# below it that goes to the bench directory is built only when asked for,
# by the target `benchmarks` where there is one.
function(romsmith_leave_out_benchmarks dir)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(output ${target} RUNTIME_OUTPUT_DIRECTORY)
    if(output STREQUAL "${CMAKE_BINARY_DIR}/bench")
      set_target_properties(${target} PROPERTIES EXCLUDE_FROM_ALL TRUE)
      if(TARGET benchmarks)
        add_dependencies(benchmarks ${target})
      endif()
    endif()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(subdir IN LISTS subdirs)
    romsmith_leave_out_benchmarks(${subdir})
  endforeach()
endfunction()
