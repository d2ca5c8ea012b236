velmar_add_test(platform_tests
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/clock_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/console_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/environment_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/filesystem_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/interrupt_test.cpp
    LIBS velmar_core)
