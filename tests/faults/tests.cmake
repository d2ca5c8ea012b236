find_package(nlohmann_json 3 REQUIRED)

velmar_add_test(faults_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/faults_test.cpp ${CMAKE_CURRENT_LIST_DIR}/number_format_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/exchange_faults_test.cpp
    LIBS velmar_core nlohmann_json::nlohmann_json)
target_compile_definitions(faults_tests PRIVATE VELMAR_SCHEMA_DIR="${CMAKE_SOURCE_DIR}/docs/schema")
if(VELMAR_SANITIZE)
    target_compile_definitions(faults_tests PRIVATE VELMAR_SANITIZED)  # resident memory is theirs to keep
endif()
add_dependencies(faults_tests velmar-tracker sim-standin)

# 120 s in the sanitizer builds it is for, 20 s elsewhere; ctest -LE soak skips it.
add_executable(faults_soak ${CMAKE_CURRENT_LIST_DIR}/soak_test.cpp)
if(VELMAR_SANITIZE)
    target_compile_definitions(faults_soak PRIVATE VELMAR_SOAK_DEFAULT_SECONDS=120)
else()
    target_compile_definitions(faults_soak PRIVATE VELMAR_SOAK_DEFAULT_SECONDS=20)
endif()
target_compile_definitions(faults_soak PRIVATE VELMAR_SCHEMA_DIR="${CMAKE_SOURCE_DIR}/docs/schema")
target_link_libraries(faults_soak PRIVATE velmar_test_support nlohmann_json::nlohmann_json GTest::gtest_main)
velmar_warnings(faults_soak)
set_target_properties(faults_soak PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
add_dependencies(faults_soak velmar-tracker sim-standin)
add_test(NAME faults_soak COMMAND faults_soak)
set_tests_properties(faults_soak PROPERTIES LABELS "soak;long" TIMEOUT 1800)
