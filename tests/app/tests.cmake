velmar_add_test(app_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/entry_test.cpp LIBS velmar_core)
target_compile_definitions(app_tests PRIVATE VELMAR_VERSION="${PROJECT_VERSION}")
