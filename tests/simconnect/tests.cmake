velmar_add_test(simconnect_tests
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/sample_decoding_test.cpp
    LIBS velmar_core)
