// Where the tests and benchmarks of this build find the source tree, the
// program directory it stages and the programs it builds. The build includes
// this header ahead of their sources (romsmith_build_locations in
// cmake/Romsmith.cmake) and defines the values in a source file it writes
// itself: no compile command names a path of the checkout, so a checkout in
// another directory (a fresh clone on CI) reuses the compiler cache for every
// test source instead of compiling them all again.
#pragma once

extern "C" {
extern const char romsmith_source_dir[];
extern const char romsmith_stage_dir[];
extern const char romsmith_cli_program[];
extern const char romsmith_xdl_program[];
extern const char romsmith_test_driver_dir[];
}

// Strings, not literals: join them as std::string or std::filesystem::path.
#define ROMSMITH_SOURCE_DIR romsmith_source_dir
#define ROMSMITH_STAGE_DIR romsmith_stage_dir
#define ROMSMITH_CLI romsmith_cli_program
#define ROMSMITH_XDL_TOOL romsmith_xdl_program
#define ROMSMITH_TEST_DRIVER_DIR romsmith_test_driver_dir
