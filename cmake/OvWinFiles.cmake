# The tree delete of the benchmark (bench/bench_delete.sh), which the
# symbolic-link and restart tests drive as well.
add_executable(bench_delete "${PROJECT_SOURCE_DIR}/bench/bench_delete.cpp")
target_link_libraries(bench_delete PRIVATE ovcore)
target_link_options(bench_delete PRIVATE -municode ${OV_STATIC_RUNTIME})
ov_warnings(bench_delete)

# A Unix symbolic link inside a scratch tree, pointing at a sibling folder
# of the same scratch folder: the delete must stop at it and leave the
# sibling's files alone.
add_test(NAME safe_delete_symlink
   COMMAND bash "${PROJECT_SOURCE_DIR}/tests/win/files/delete_test.sh" symlink
      "$<TARGET_FILE:bench_delete>" "${OV_WINEPREFIX}")
set_tests_properties(safe_delete_symlink PROPERTIES TIMEOUT 120)

# Deletion at the next restart (of bench_delete's own running file), in a
# prefix of its own that the test restarts.
add_test(NAME delete_at_restart
   COMMAND bash "${PROJECT_SOURCE_DIR}/tests/win/files/delete_test.sh" restart
      "$<TARGET_FILE:bench_delete>" "${CMAKE_BINARY_DIR}/restart-prefix")
set_tests_properties(delete_at_restart PROPERTIES TIMEOUT 300)
