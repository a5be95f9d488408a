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

# Warnings for the project's own targets (not for third-party code). Only
# for the compilers: windres, which builds a target's .rc files, rejects them.
function(ov_warnings target)
   target_compile_options(${target} PRIVATE "$<$<COMPILE_LANGUAGE:C,CXX>:-Wall;-Wextra>")
endfunction()

# The platform-neutral core, built in every tree.
set(OV_CORE_SOURCES
   lib/string/bsd_vsnprintf.cpp
   lib/string/bsd_vsnwprintf.cpp
   lib/string/str.cpp
   lib/misc/panic.cpp
   lib/misc/byteBuffer.cpp
   lib/misc/codeset.cpp
   lib/unicode/unicodeSimpleTypes.cpp
   lib/unicode/unicodeSimpleBase.cpp
   lib/unicode/unicodeSimpleOperations.cpp
   common/logLine.cpp
   common/osInfoMap.cpp
   common/msiUtilText.cpp
   common/loadOrderList.cpp
   common/registryValue.cpp
   common/serviceActionData.cpp
   common/fileText.cpp
   common/processText.cpp
)

# The package checker's rules and its reading of a DLL's export names:
# platform-neutral, so that they are tested natively; only its reading of a
# package through msi.dll is Windows-only (cmake/OvWinPkgCheck.cmake).
set(OV_PKGCHECK_SOURCES
   pkgcheck/contract.cpp
   pkgcheck/checks.cpp
   pkgcheck/peExports.cpp
)

# The Windows-only part of the library (the boundary to the wide Windows
# API), added to ovcore in the win tree only.
set(OV_WIN_SOURCES
   lib/misc/win32u.cpp
   lib/misc/win32uRegistry.cpp
   lib/misc/windowsu.cpp
   common/log.cpp
   common/osInfo.cpp
   common/msiUtil.cpp
   common/registry.cpp
   common/service.cpp
   common/process.cpp
   common/file.cpp
   hostChannel/hostPort.cpp
   hostChannel/hostChannel.cpp
   hostChannel/rpcOut.cpp
   hostChannel/logToHost.cpp
)

# The build number in the log's fixed tag ("inst-build-N") and the custom
# actions' tag ("setupKit-build-N").
set(OV_BUILD_NUMBER 1 CACHE STRING "Build number of the product")
if(NOT OV_BUILD_NUMBER MATCHES "^[0-9]+$")
   message(FATAL_ERROR "OV_BUILD_NUMBER must be a decimal number, not '${OV_BUILD_NUMBER}'")
endif()

function(ov_add_core)
   add_library(ovcore STATIC ${OV_CORE_SOURCES})
   # Code includes headers by their path from the repository root.
   target_include_directories(ovcore PUBLIC "${PROJECT_SOURCE_DIR}")
   target_compile_definitions(ovcore PUBLIC OV_BUILD_NUMBER=${OV_BUILD_NUMBER})
   ov_warnings(ovcore)
   add_library(ovpkgrules STATIC ${OV_PKGCHECK_SOURCES})
   target_include_directories(ovpkgrules PUBLIC "${PROJECT_SOURCE_DIR}")
   ov_warnings(ovpkgrules)
endfunction()

# The GoogleTest unit tests: every tests/unit/*.cpp in one executable.
file(GLOB OV_UNIT_TEST_SOURCES CONFIGURE_DEPENDS
   "${PROJECT_SOURCE_DIR}/tests/unit/*.cpp")

function(ov_add_unit_tests gtest_main_target)
   if(NOT OV_UNIT_TEST_SOURCES)
      message(FATAL_ERROR "no unit tests found (tests/unit/*.cpp)")
   endif()
   add_executable(unit_tests ${OV_UNIT_TEST_SOURCES})
   target_link_libraries(unit_tests PRIVATE ovcore ovpkgrules ${gtest_main_target})
   ov_warnings(unit_tests)
endfunction()
