set(simconnect_test_sources ${CMAKE_CURRENT_LIST_DIR}/sample_decoding_test.cpp)
# The session tests play against sim-standin, which exists wherever our
# substitute library is used.
if(TARGET sim-standin)
    list(APPEND simconnect_test_sources
        ${CMAKE_CURRENT_LIST_DIR}/session_fixture.cpp
        ${CMAKE_CURRENT_LIST_DIR}/connection_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/dispatch_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/collection_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/control_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/diagnostic_test.cpp)
endif()
velmar_add_test(simconnect_tests SOURCES ${simconnect_test_sources} LIBS velmar_core)
if(TARGET sim-standin)
    add_dependencies(simconnect_tests sim-standin)
endif()
