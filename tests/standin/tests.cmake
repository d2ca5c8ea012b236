if(TARGET standin_server)
    velmar_add_test(standin_tests
        SOURCES
            ${CMAKE_CURRENT_LIST_DIR}/standin_harness.cpp
            ${CMAKE_CURRENT_LIST_DIR}/client_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/process_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/robustness_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/rules_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/support_test.cpp
        LIBS simconnect_substitute standin_server)
    add_dependencies(standin_tests sim-standin)
endif()
