find_package(nlohmann_json 3 REQUIRED)
velmar_add_test(export_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/export_test.cpp LIBS nlohmann_json::nlohmann_json)
add_dependencies(export_tests velmar-tracker sim-standin)
target_compile_definitions(export_tests PRIVATE VELMAR_READ_BACK="${CMAKE_CURRENT_LIST_DIR}/read_back.py")
