find_package(nlohmann_json 3 REQUIRED)
velmar_add_test(bridge_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/file_formats_test.cpp LIBS velmar_core nlohmann_json::nlohmann_json)
