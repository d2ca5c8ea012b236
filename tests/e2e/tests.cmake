# velmar_add_test(e2e_tests SOURCES ... LIBS ...)
