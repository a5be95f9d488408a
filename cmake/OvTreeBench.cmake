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

# The globs (of one name each) make the build re-configure when a file appears.
file(GLOB OV_BENCH_SOURCE CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/bench/bench_format.cpp")
file(GLOB OV_CALLGRIND_SOURCE CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/bench/callgrind_format.cpp")

if(OV_BENCH_SOURCE)
   add_executable(bench_format "${OV_BENCH_SOURCE}")
   target_include_directories(bench_format SYSTEM PRIVATE "${OV_STB_INCLUDE_DIR}")
   # benchmark_main supplies main() unless the file has its own.
   file(READ "${OV_BENCH_SOURCE}" _ov_bench_text)
   if(_ov_bench_text MATCHES "BENCHMARK_MAIN[ \t]*\\(|int[ \t\n]+main[ \t]*\\(")
      target_link_libraries(bench_format PRIVATE ovcore benchmark::benchmark)
   else()
      target_link_libraries(bench_format PRIVATE ovcore benchmark::benchmark_main)
   endif()
   # Re-check when the file changes (its main() may come or go).
   set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${OV_BENCH_SOURCE}")
   ov_warnings(bench_format)
else()
   message(WARNING "bench/bench_format.cpp not found: no bench_format")
endif()

if(OV_CALLGRIND_SOURCE)
   add_executable(callgrind_format "${OV_CALLGRIND_SOURCE}")
   target_include_directories(callgrind_format SYSTEM PRIVATE "${OV_STB_INCLUDE_DIR}")
   target_link_libraries(callgrind_format PRIVATE ovcore)
   ov_warnings(callgrind_format)
else()
   message(WARNING "bench/callgrind_format.cpp not found: no callgrind_format")
endif()

# bench_codeset: the conversions, built-in and through ICU, against ICU's own
# UTF-8 functions. It has its own BENCHMARK_MAIN.
file(GLOB OV_BENCH_CODESET_SOURCE CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/bench/bench_codeset.cpp")
if(OV_BENCH_CODESET_SOURCE)
   add_executable(bench_codeset "${OV_BENCH_CODESET_SOURCE}")
   target_link_libraries(bench_codeset PRIVATE ovcore benchmark::benchmark PkgConfig::ICU)
   ov_warnings(bench_codeset)
else()
   message(WARNING "bench/bench_codeset.cpp not found: no bench_codeset")
endif()

# bench_log: building one log line (clock included) against the appending
# write() that stores it. It has its own BENCHMARK_MAIN.
file(GLOB OV_BENCH_LOG_SOURCE CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/bench/bench_log.cpp")
if(OV_BENCH_LOG_SOURCE)
   add_executable(bench_log "${OV_BENCH_LOG_SOURCE}")
   target_link_libraries(bench_log PRIVATE ovcore benchmark::benchmark)
   ov_warnings(bench_log)
else()
   message(WARNING "bench/bench_log.cpp not found: no bench_log")
endif()
