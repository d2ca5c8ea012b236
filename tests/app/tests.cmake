# velmar_add_test(app_tests SOURCES ... LIBS ...)
