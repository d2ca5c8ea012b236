# velmar_add_test(platform_tests SOURCES ... LIBS ...)
