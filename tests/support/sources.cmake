# target_sources(velmar_test_support PRIVATE ...)
