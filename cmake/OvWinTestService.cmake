# The test service: a Win32 service of its own process whose start and stop
# behaviour (normal, slow, stuck in start-pending, stuck in stop-pending;
# pause and continue) is chosen by the arguments of its image path. The
# Windows test programs find it by the path in OV_TEST_SERVICE_EXE.
add_executable(ov_test_service "${PROJECT_SOURCE_DIR}/tests/service/testService.cpp")
set_target_properties(ov_test_service PROPERTIES OUTPUT_NAME ov_test_service)
target_link_options(ov_test_service PRIVATE -municode ${OV_STATIC_RUNTIME})
ov_warnings(ov_test_service)
foreach(test_program win_tests msi_tests)
   add_dependencies(${test_program} ov_test_service)
   target_compile_definitions(${test_program} PRIVATE
      "OV_TEST_SERVICE_EXE=\"$<TARGET_FILE:ov_test_service>\"")
endforeach()
