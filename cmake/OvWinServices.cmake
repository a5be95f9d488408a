# Test programs of the service and driver custom actions: a kernel driver
# that Wine's SCM loads, built with and without an unload routine (the one
# without stays loaded after a stop: the reboot-required case).
enable_language(C)
foreach(variant ov_test_driver ov_test_driver_nounload)
   add_executable(${variant} "${PROJECT_SOURCE_DIR}/tests/driver/testDriver.c")
   set_target_properties(${variant} PROPERTIES SUFFIX ".sys")
   target_link_options(${variant} PRIVATE -shared -nostdlib -Wl,--subsystem,native
      -Wl,--entry,DriverEntry)
   target_link_libraries(${variant} PRIVATE ntoskrnl)
   ov_warnings(${variant})
endforeach()
target_compile_definitions(ov_test_driver_nounload PRIVATE OV_NO_UNLOAD)
foreach(test_program win_tests msi_tests)
   add_dependencies(${test_program} ov_test_driver ov_test_driver_nounload)
   target_compile_definitions(${test_program} PRIVATE
      "OV_TEST_DRIVER_SYS=\"$<TARGET_FILE:ov_test_driver>\""
      "OV_TEST_DRIVER_NOUNLOAD_SYS=\"$<TARGET_FILE:ov_test_driver_nounload>\"")
endforeach()
