if(TARGET sim-standin)  # wherever our substitute library is used
    velmar_add_test(simconnect_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/session_test.cpp LIBS velmar_core)
    add_dependencies(simconnect_tests sim-standin)
endif()
