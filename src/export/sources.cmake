target_sources(velmar_core PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/export_formats.cpp
    ${CMAKE_CURRENT_LIST_DIR}/export_recording.cpp
    ${CMAKE_CURRENT_LIST_DIR}/html_page.cpp
    ${CMAKE_CURRENT_LIST_DIR}/recording.cpp
    ${CMAKE_CURRENT_LIST_DIR}/recording_time.cpp)
