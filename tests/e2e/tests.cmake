find_package(nlohmann_json 3 REQUIRED)
velmar_add_test(e2e_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/bridge_e2e_test.cpp ${CMAKE_CURRENT_LIST_DIR}/bridge_state_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/wake_test.cpp
    LIBS nlohmann_json::nlohmann_json)
add_dependencies(e2e_tests velmar-tracker sim-standin)  # the executables under test
target_compile_definitions(e2e_tests PRIVATE VELMAR_SCHEMA_DIR="${CMAKE_SOURCE_DIR}/docs/schema")
