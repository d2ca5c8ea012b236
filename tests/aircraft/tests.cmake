# velmar_add_test(aircraft_tests SOURCES ... LIBS ...)
