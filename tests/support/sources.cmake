target_sources(velmar_test_support PRIVATE ${CMAKE_CURRENT_LIST_DIR}/process.cpp)
velmar_warnings(velmar_test_support)
