if(TARGET sim-standin)
    velmar_add_test(standin_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/standin_test.cpp LIBS simconnect_substitute standin_protocol)
    # The product's sample definition (a header-only table) is what the stand-in must serve.
    target_include_directories(standin_tests PRIVATE ${CMAKE_SOURCE_DIR}/simconnect_client/protocol ${CMAKE_SOURCE_DIR}/simconnect_client/client
        ${CMAKE_SOURCE_DIR}/src)
    add_dependencies(standin_tests sim-standin)
    velmar_add_test(endpoint_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/endpoint_test.cpp
        LIBS simconnect_substitute standin_protocol)
    target_include_directories(endpoint_tests PRIVATE ${CMAKE_SOURCE_DIR}/simconnect_client/client)
    add_dependencies(endpoint_tests sim-standin velmar-tracker)
endif()
