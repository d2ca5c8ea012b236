# target_sources(velmar_core PRIVATE ...) for src/platform
if(WIN32)
    target_sources(velmar_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/text_win32.cpp)
else()
    target_sources(velmar_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/text_posix.cpp)
endif()
