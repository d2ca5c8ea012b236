# velmar_add_test(simconnect_tests SOURCES ... LIBS ...)
