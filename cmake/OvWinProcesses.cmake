# Test programs of the process, registration, stop-services and application
# search actions (tests/process):
#  - ov_sleeper: a program that waits and exits with a given code, copied by
#    the tests under the executable names a case needs;
#  - three COM server DLLs (plain, one importing ov_com_dep.dll, one without
#    DllUnregisterServer) for the registration tests;
#  - Rstrtmgr.dll, a recording stand-in for the Restart Manager, which the
#    tests copy beside the running test program so that it is loaded
#    instead of Wine's stubs.

add_executable(ov_sleeper "${PROJECT_SOURCE_DIR}/tests/process/sleeper.cpp")
target_link_options(ov_sleeper PRIVATE ${OV_STATIC_RUNTIME})
ov_warnings(ov_sleeper)

add_library(ov_com_dep SHARED "${PROJECT_SOURCE_DIR}/tests/process/comDep.cpp")
set(OV_COM_SERVERS ov_com_plain ov_com_with_dep ov_com_no_unregister)
foreach(server IN LISTS OV_COM_SERVERS)
   add_library(${server} SHARED "${PROJECT_SOURCE_DIR}/tests/process/comServer.cpp")
endforeach()
target_compile_definitions(ov_com_with_dep PRIVATE OV_COM_WITH_DEP)
target_link_libraries(ov_com_with_dep PRIVATE ov_com_dep)
target_compile_definitions(ov_com_no_unregister PRIVATE OV_COM_NO_UNREGISTER)
target_link_libraries(ov_com_plain PRIVATE advapi32)

add_library(ov_restart_manager SHARED "${PROJECT_SOURCE_DIR}/tests/process/restartManager.cpp")
set_target_properties(ov_restart_manager PROPERTIES OUTPUT_NAME Rstrtmgr)

foreach(target ov_com_dep ${OV_COM_SERVERS} ov_restart_manager)
   set_target_properties(${target} PROPERTIES PREFIX "")
   target_link_options(${target} PRIVATE ${OV_STATIC_RUNTIME} -Wl,--kill-at)
   ov_warnings(${target})
endforeach()

set(OV_PROCESS_TEST_FILES
   "OV_SLEEPER_EXE=\"$<TARGET_FILE:ov_sleeper>\""
   "OV_COM_PLAIN_DLL=\"$<TARGET_FILE:ov_com_plain>\""
   "OV_COM_WITH_DEP_DLL=\"$<TARGET_FILE:ov_com_with_dep>\""
   "OV_COM_DEP_DLL=\"$<TARGET_FILE:ov_com_dep>\""
   "OV_COM_NO_UNREGISTER_DLL=\"$<TARGET_FILE:ov_com_no_unregister>\""
   "OV_RESTART_MANAGER_DLL=\"$<TARGET_FILE:ov_restart_manager>\"")
foreach(program win_tests msi_tests)
   add_dependencies(${program} ov_sleeper ov_com_dep ${OV_COM_SERVERS} ov_restart_manager)
   target_compile_definitions(${program} PRIVATE ${OV_PROCESS_TEST_FILES})
endforeach()
