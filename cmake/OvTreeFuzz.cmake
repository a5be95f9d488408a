# build/fuzz: one libFuzzer program per fuzz/*.cpp, with ASan and UBSan.
#   cmake -S . -B build/fuzz -DOV_TREE=fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++

ov_default_build_type(Debug "-g -O1")

if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
   message(FATAL_ERROR "the fuzz tree needs clang (-DCMAKE_CXX_COMPILER=clang++)")
endif()
find_program(OV_BASH bash REQUIRED)

add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)

find_package(PkgConfig REQUIRED)
pkg_check_modules(ICU REQUIRED IMPORTED_TARGET icu-uc)

ov_add_core()
target_compile_options(ovcore PRIVATE -fsanitize=fuzzer-no-link)
target_compile_options(ovpkgrules PRIVATE -fsanitize=fuzzer-no-link)
# The codeset layer converts through ICU (and codeset_fuzz compares it with
# the built-in converters).
target_link_libraries(ovcore PUBLIC PkgConfig::ICU)

file(GLOB OV_FUZZ_SOURCES CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/fuzz/*.cpp")
if(NOT OV_FUZZ_SOURCES)
   message(WARNING "no fuzz harnesses found (fuzz/*.cpp)")
endif()
foreach(src ${OV_FUZZ_SOURCES})
   get_filename_component(stem "${src}" NAME_WE)
   set(target "fuzz_${stem}")
   add_executable(${target} "${src}")
   target_compile_options(${target} PRIVATE -fsanitize=fuzzer)
   target_link_options(${target} PRIVATE -fsanitize=fuzzer,address,undefined)
   target_link_libraries(${target} PRIVATE ovcore ovpkgrules)
   ov_warnings(${target})

   # A short deterministic run per harness, so `make test` exercises them.
   # Seeds come from fuzz/corpus/<stem>/ if present; it is only read.
   add_test(NAME fuzz_smoke_${stem}
      COMMAND "${OV_BASH}" "${PROJECT_SOURCE_DIR}/scripts/fuzz-run.sh"
              "$<TARGET_FILE:${target}>" "${PROJECT_SOURCE_DIR}/fuzz/corpus/${stem}"
              "${CMAKE_BINARY_DIR}/artifacts/${stem}"
              -runs=20000 -seed=1)
   set_tests_properties(fuzz_smoke_${stem} PROPERTIES TIMEOUT 600)
endforeach()
