velmar_add_test(app_tests
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/bridge_mode_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/command_line_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/simple_mode_test.cpp
    LIBS velmar_core)
