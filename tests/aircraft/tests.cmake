velmar_add_test(aircraft_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/aircraft_identity_test.cpp LIBS velmar_core)
