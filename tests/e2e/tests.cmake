velmar_add_test(e2e_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/bridge_e2e_test.cpp LIBS velmar_fault_support)
# The executables under test must be built before the tests run.
add_dependencies(e2e_tests velmar-tracker sim-standin)
