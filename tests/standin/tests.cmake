# velmar_add_test(standin_tests SOURCES ... LIBS ...)
