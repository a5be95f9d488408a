# build/bench: optimised, no sanitizers. bench_format uses Google Benchmark;
# callgrind_format is a plain driver for scripts under valgrind --tool=callgrind.
# -g only adds debug information, so callgrind can name source lines.

ov_default_build_type(Release "-O2 -g -DNDEBUG")

find_package(benchmark REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(ICU REQUIRED IMPORTED_TARGET icu-uc)

ov_add_core()
# The codeset layer converts through ICU.
target_link_libraries(ovcore PUBLIC PkgConfig::ICU)

# stb_sprintf.h (package libstb-dev) is a comparison point for the benchmarks.
set(OV_STB_INCLUDE_DIR "/usr/include/stb" CACHE PATH "Folder of stb_sprintf.h")

# One program per bench/<name>.cpp; each has its own main().
function(ov_bench_program name)
   add_executable(${name} "${PROJECT_SOURCE_DIR}/bench/${name}.cpp")
   target_link_libraries(${name} PRIVATE ovcore ${ARGN})
   ov_warnings(${name})
endfunction()

# bench_format: one log line through our engine, glibc and stb_sprintf.
ov_bench_program(bench_format benchmark::benchmark)
target_include_directories(bench_format SYSTEM PRIVATE "${OV_STB_INCLUDE_DIR}")

# callgrind_format: the same line as a plain driver for callgrind.
ov_bench_program(callgrind_format)
target_include_directories(callgrind_format SYSTEM PRIVATE "${OV_STB_INCLUDE_DIR}")

# bench_codeset: the conversions, built-in and through ICU, against ICU's own
# UTF-8 functions.
ov_bench_program(bench_codeset benchmark::benchmark PkgConfig::ICU)

# bench_log: building one log line (clock included) against the appending
# write() that stores it.
ov_bench_program(bench_log benchmark::benchmark)
