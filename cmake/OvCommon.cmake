# Pieces shared by every tree: build-type defaults, warnings, the core library.

# Each tree has one intended configuration; its flags are set here so that a
# plain `cmake -S . -B build/x` gives the documented build.
macro(ov_default_build_type type flags)
   if(NOT CMAKE_BUILD_TYPE)
      set(CMAKE_BUILD_TYPE "${type}" CACHE STRING "Build type" FORCE)
   endif()
   string(TOUPPER "${CMAKE_BUILD_TYPE}" _ov_bt)
   set(CMAKE_C_FLAGS_${_ov_bt} "${flags}")
   set(CMAKE_CXX_FLAGS_${_ov_bt} "${flags}")
endmacro()

# Warnings for the project's own targets (not for third-party code).
function(ov_warnings target)
   target_compile_options(${target} PRIVATE -Wall -Wextra)
endfunction()

# The platform-neutral core, built in every tree.
set(OV_CORE_SOURCES
   lib/string/bsd_vsnprintf.cpp
   lib/string/bsd_vsnwprintf.cpp
   lib/string/str.cpp
   lib/misc/panic.cpp
)

function(ov_add_core)
   add_library(ovcore STATIC ${OV_CORE_SOURCES})
   # Code includes headers by their path from the repository root.
   target_include_directories(ovcore PUBLIC "${PROJECT_SOURCE_DIR}")
   ov_warnings(ovcore)
endfunction()

# The GoogleTest unit tests: every tests/unit/*.cpp in one executable.
file(GLOB OV_UNIT_TEST_SOURCES CONFIGURE_DEPENDS
   "${PROJECT_SOURCE_DIR}/tests/unit/*.cpp")

function(ov_add_unit_tests gtest_main_target)
   if(NOT OV_UNIT_TEST_SOURCES)
      message(FATAL_ERROR "no unit tests found (tests/unit/*.cpp)")
   endif()
   add_executable(unit_tests ${OV_UNIT_TEST_SOURCES})
   target_link_libraries(unit_tests PRIVATE ovcore ${gtest_main_target})
   ov_warnings(unit_tests)
endfunction()
