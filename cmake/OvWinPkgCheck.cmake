# ovpkgcheck.exe: the package checker, a console program beside the DLL that
# reads packages with msi.dll.
add_executable(ovpkgcheck
   "${PROJECT_SOURCE_DIR}/pkgcheck/msiPackageReader.cpp"
   "${PROJECT_SOURCE_DIR}/pkgcheck/ovpkgcheck.cpp")
target_link_libraries(ovpkgcheck PRIVATE ovpkgrules ovcore msi)
target_link_options(ovpkgcheck PRIVATE -municode ${OV_STATIC_RUNTIME})
ov_warnings(ovpkgcheck)

# The checker on the demo package (wixl) and on the same package rebuilt by
# msibuild, and on copies of it broken one way each.
add_test(NAME pkgcheck_e2e
   COMMAND bash "${PROJECT_SOURCE_DIR}/tests/e2e/pkgcheck_test.sh"
      "${CMAKE_BINARY_DIR}" "${CMAKE_BINARY_DIR}/pkgcheck-e2e")
set_tests_properties(pkgcheck_e2e PROPERTIES TIMEOUT 300)
add_dependencies(ovpkgcheck ovinstutil)
