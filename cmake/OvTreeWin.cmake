# build/win: the custom-action DLL and the Windows test programs, cross-built
# with MinGW-w64 and run under Wine by ctest.

ov_default_build_type(Release "-O2")

if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
   message(FATAL_ERROR "the win tree expects MinGW-w64 g++ (cmake/mingw-w64-x86_64.cmake)")
endif()
if(NOT CMAKE_OBJDUMP)
   find_program(CMAKE_OBJDUMP NAMES x86_64-w64-mingw32-objdump REQUIRED)
endif()
find_program(OV_BASH bash REQUIRED)

# Test programs run under Wine, in a sandboxed prefix inside this tree. Set
# before any target is made: targets copy it into CROSSCOMPILING_EMULATOR.
set(OV_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
set(CMAKE_CROSSCOMPILING_EMULATOR
   "${OV_BASH};${PROJECT_SOURCE_DIR}/scripts/wine-run.sh;--prefix;${OV_WINEPREFIX}")

# GoogleTest from Debian's source package, built here for Windows, static.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(BUILD_SHARED_LIBS OFF)
set(OV_GOOGLETEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest sources")
if(NOT EXISTS "${OV_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt")
   message(FATAL_ERROR "GoogleTest sources not found in ${OV_GOOGLETEST_SOURCE_DIR} (package googletest)")
endif()
add_subdirectory("${OV_GOOGLETEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)

# Everything runs on a bare Windows (or Wine): no MinGW runtime DLLs.
set(OV_STATIC_RUNTIME -static -static-libgcc -static-libstdc++)

ov_add_core()
target_sources(ovcore PRIVATE ${OV_WIN_SOURCES})
target_link_libraries(ovcore PUBLIC msi advapi32 user32)

# --- the custom-action DLL ---------------------------------------------------
# Its string table and version block (resources/*.rc) are built by windres,
# which gets the target's definitions, OV_BUILD_NUMBER among them, from ovcore.
enable_language(RC)
file(GLOB OV_CA_SOURCES CONFIGURE_DEPENDS
   "${PROJECT_SOURCE_DIR}/customActions/*.cpp"
   "${PROJECT_SOURCE_DIR}/resources/*.rc")
if(NOT OV_CA_SOURCES)
   message(FATAL_ERROR "no sources in customActions/")
endif()
add_library(ovinstutil SHARED ${OV_CA_SOURCES}
   "${PROJECT_SOURCE_DIR}/customActions/ovinstutil.def")
set_target_properties(ovinstutil PROPERTIES
   PREFIX ""
   IMPORT_PREFIX ""
   OUTPUT_NAME ovinstutil)
target_link_libraries(ovinstutil PRIVATE
   ovcore msi advapi32 setupapi user32 shell32)
target_link_options(ovinstutil PRIVATE ${OV_STATIC_RUNTIME} -Wl,--kill-at)
ov_warnings(ovinstutil)

# --- tests --------------------------------------------------------------------
# The GoogleTest programs use GoogleTest's own main.
add_library(ov_win_test_main INTERFACE)
target_link_libraries(ov_win_test_main INTERFACE gtest_main)

ov_add_unit_tests(ov_win_test_main)
target_link_options(unit_tests PRIVATE ${OV_STATIC_RUNTIME})
add_test(NAME unit_tests COMMAND unit_tests)

# The DLL needs only Windows system DLLs.
add_test(NAME dll_imports
   COMMAND "${OV_BASH}" "${PROJECT_SOURCE_DIR}/scripts/check-dll-imports.sh"
           "${CMAKE_OBJDUMP}" "$<TARGET_FILE:ovinstutil>")

# The import check itself must reject a DLL that needs the MinGW runtime.
add_library(runtime_probe SHARED "${PROJECT_SOURCE_DIR}/tests/dll/runtime_probe_dll.cpp")
set_target_properties(runtime_probe PROPERTIES PREFIX "")
add_test(NAME dll_imports_rejects_runtime
   COMMAND "${OV_BASH}" "${PROJECT_SOURCE_DIR}/scripts/check-dll-imports.sh"
           "${CMAKE_OBJDUMP}" "$<TARGET_FILE:runtime_probe>")
set_tests_properties(dll_imports_rejects_runtime PROPERTIES
   PASS_REGULAR_EXPRESSION "imports the MinGW runtime DLL libstdc\\+\\+")

# The DLL loads (DllMain accepts) and unloads under Wine.
add_executable(dll_load_test "${PROJECT_SOURCE_DIR}/tests/dll/dll_load_test.cpp")
target_link_options(dll_load_test PRIVATE -municode ${OV_STATIC_RUNTIME})
ov_warnings(dll_load_test)
add_test(NAME dll_load COMMAND dll_load_test "$<TARGET_FILE:ovinstutil>")

# A GoogleTest program of every <folder>/*.cpp, run under Wine.
function(ov_win_test_program name folder)
   file(GLOB sources CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/${folder}/*.cpp")
   if(NOT sources)
      message(FATAL_ERROR "no tests found (${folder}/*.cpp)")
   endif()
   add_executable(${name} ${sources})
   target_link_libraries(${name} PRIVATE ovcore ov_win_test_main)
   target_link_options(${name} PRIVATE ${OV_STATIC_RUNTIME})
   ov_warnings(${name})
   add_test(NAME ${name} COMMAND ${name})
   set_tests_properties(${name} PROPERTIES TIMEOUT 600)
endfunction()

# Windows-only tests: the wide API boundary, the log file, the host channel,
# the registry and load-order libraries, the installer window.
ov_win_test_program(win_tests tests/win)
set_tests_properties(unit_tests dll_load PROPERTIES TIMEOUT 600)

# Tests of the installer-session layer and of the custom actions, against
# real installer sessions (tests/msi). They load the built DLL by its path
# and, like the log tests, may set the log level key.
ov_win_test_program(msi_tests tests/msi)
target_link_libraries(msi_tests PRIVATE version)   # reads the DLL's version block
add_dependencies(msi_tests ovinstutil)
target_compile_definitions(msi_tests PRIVATE "OV_DLL_PATH=\"$<TARGET_FILE:ovinstutil>\"")

# The log keeps its state per process, so its tests run every case in a
# fresh log_child process; win_tests copies it from this tree by its path.
add_executable(log_child "${PROJECT_SOURCE_DIR}/tests/win/logChild/logChild.cpp")
target_link_libraries(log_child PRIVATE ovcore)
target_link_options(log_child PRIVATE -municode ${OV_STATIC_RUNTIME})
ov_warnings(log_child)
add_dependencies(win_tests log_child)
target_compile_definitions(win_tests PRIVATE "OV_LOG_CHILD_EXE=\"$<TARGET_FILE:log_child>\"")

# Wine takes the time zone from the TZ of the Unix process it is started in
# (a TZ in the Windows environment of a child is ignored), so the log cases
# run again as entries of their own, each with a POSIX zone (no tzdata
# needed) and the suffix Wine must give for it; every line's time and zone
# are checked against it.
set(OV_LOG_ZONE_CASES
   "behind_utc|<-02>2|-02:00"
   "utc|UTC0|Z"
   "ahead_half_hour|<+0530>-5:30|+05:30")
set(OV_LOG_ZONE_TESTS)
foreach(zone_case IN LISTS OV_LOG_ZONE_CASES)
   string(REPLACE "|" ";" zone_parts "${zone_case}")
   list(GET zone_parts 0 zone_name)
   list(GET zone_parts 1 zone_tz)
   list(GET zone_parts 2 zone_suffix)
   add_test(NAME log_zone_${zone_name}
      COMMAND win_tests --gtest_filter=Log.Cases)
   set_tests_properties(log_zone_${zone_name} PROPERTIES
      ENVIRONMENT "TZ=${zone_tz};OV_LOG_EXPECT_ZONE=${zone_suffix}"
      FAIL_REGULAR_EXPRESSION "Running 0 tests"
      TIMEOUT 120)
   list(APPEND OV_LOG_ZONE_TESTS log_zone_${zone_name})
endforeach()
# The log tests set the log level and host-log keys of the shared prefix.
set_tests_properties(win_tests msi_tests ${OV_LOG_ZONE_TESTS} PROPERTIES RESOURCE_LOCK ov_log_registry)

# End to end: the demo package, built with wixl, installed by Wine's msiexec
# in a prefix of its own (tests/e2e).
add_test(NAME package_e2e
   COMMAND bash "${PROJECT_SOURCE_DIR}/tests/e2e/package_test.sh"
      "${CMAKE_BINARY_DIR}" "${CMAKE_BINARY_DIR}/e2e" "${OV_BUILD_NUMBER}")
set_tests_properties(package_e2e PROPERTIES TIMEOUT 300)

# The test programs, drivers, services and stand-in DLLs that each family of
# custom actions needs for its tests, one file per family.
include(OvWinTestService)
include(OvWinServices)
include(OvWinFiles)
include(OvWinProcesses)
include(OvWinRegistryUi)
include(OvWinPkgCheck)
