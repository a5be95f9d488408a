# build/bench: optimised, no sanitizers. bench_core uses Google Benchmark and
# also runs as a plain driver under valgrind --tool=callgrind.
# -g only adds debug information, so callgrind can name source lines.

ov_default_build_type(Release "-O2 -g -DNDEBUG")

find_package(benchmark REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(ICU REQUIRED IMPORTED_TARGET icu-uc)

ov_add_core()
# The codeset layer converts through ICU.
target_link_libraries(ovcore PUBLIC PkgConfig::ICU)

# One program per bench/<name>.cpp; each has its own main().
function(ov_bench_program name)
   add_executable(${name} "${PROJECT_SOURCE_DIR}/bench/${name}.cpp")
   target_link_libraries(${name} PRIVATE ovcore ${ARGN})
   ov_warnings(${name})
endfunction()

# bench_core: one log line through our engine and glibc, and building it
# against the appending write() that stores it; the conversions through ICU
# against ICU's own UTF-8 functions.
ov_bench_program(bench_core benchmark::benchmark PkgConfig::ICU)
