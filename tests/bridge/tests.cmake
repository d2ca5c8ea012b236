# velmar_add_test(bridge_tests SOURCES ... LIBS ...)
