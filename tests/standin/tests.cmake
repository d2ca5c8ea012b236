if(TARGET sim-standin)
    velmar_add_test(standin_tests
        SOURCES
            ${CMAKE_CURRENT_LIST_DIR}/client_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/process_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/robustness_test.cpp
        LIBS simconnect_substitute)
    target_include_directories(standin_tests PRIVATE ${CMAKE_SOURCE_DIR}/standin/common)
    add_dependencies(standin_tests sim-standin)
endif()
