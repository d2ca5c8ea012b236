velmar_add_test(app_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/entry_test.cpp LIBS velmar_core)
