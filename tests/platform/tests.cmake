velmar_add_test(platform_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/platform_test.cpp LIBS velmar_core)
