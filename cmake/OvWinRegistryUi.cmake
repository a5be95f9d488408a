# Test programs of the registry, message and notification-area actions: a
# stand-in for the shell's notification area (tests/msi/standInTray), which
# msi_tests copies from this tree by its path.
add_executable(stand_in_tray "${PROJECT_SOURCE_DIR}/tests/msi/standInTray/standInTray.cpp")
target_link_libraries(stand_in_tray PRIVATE comctl32 user32)
target_link_options(stand_in_tray PRIVATE -municode ${OV_STATIC_RUNTIME})
ov_warnings(stand_in_tray)
add_dependencies(msi_tests stand_in_tray)
target_compile_definitions(msi_tests PRIVATE "OV_STAND_IN_TRAY_EXE=\"$<TARGET_FILE:stand_in_tray>\"")
