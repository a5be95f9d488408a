# build/host: the core and its unit tests, native, with ASan and UBSan.

ov_default_build_type(Debug "-g -O1")

set(OV_SANITIZE -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
add_compile_options(${OV_SANITIZE})
add_link_options(-fsanitize=address,undefined)

find_package(GTest REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(ICU REQUIRED IMPORTED_TARGET icu-uc icu-i18n)

ov_add_core()
target_link_libraries(ovcore PUBLIC PkgConfig::ICU)

# Locales with thousands grouping for the tests, made here so that the tests
# do not depend on which locales the machine has generated.
find_program(OV_LOCALEDEF localedef REQUIRED)
set(OV_LOCALE_DIR "${CMAKE_BINARY_DIR}/locale")
set(OV_LOCALE_FILES)
foreach(loc en_US de_DE)
   set(out "${OV_LOCALE_DIR}/${loc}.UTF-8")
   add_custom_command(
      OUTPUT "${out}/LC_NUMERIC"
      COMMAND "${CMAKE_COMMAND}" -E rm -rf "${out}"
      COMMAND "${CMAKE_COMMAND}" -E make_directory "${OV_LOCALE_DIR}"
      COMMAND "${OV_LOCALEDEF}" -i ${loc} -f UTF-8 "${out}"
      # glibc looks a name up as written: accept the "utf8" spelling too.
      COMMAND "${CMAKE_COMMAND}" -E create_symlink "${loc}.UTF-8" "${OV_LOCALE_DIR}/${loc}.utf8"
      COMMENT "Generating locale ${loc}.UTF-8"
      VERBATIM)
   list(APPEND OV_LOCALE_FILES "${out}/LC_NUMERIC")
endforeach()
add_custom_target(test_locales ALL DEPENDS ${OV_LOCALE_FILES})

ov_add_unit_tests(GTest::gtest_main)
add_dependencies(unit_tests test_locales)
add_test(NAME unit_tests COMMAND unit_tests)
set_tests_properties(unit_tests PROPERTIES
   TIMEOUT 600
   ENVIRONMENT "LOCPATH=${OV_LOCALE_DIR};ASAN_OPTIONS=halt_on_error=1:abort_on_error=0:detect_leaks=1:print_stacktrace=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1;UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1")
