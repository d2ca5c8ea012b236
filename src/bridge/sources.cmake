target_sources(velmar_core PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/bridge_state.cpp
    ${CMAKE_CURRENT_LIST_DIR}/command_results.cpp
    ${CMAKE_CURRENT_LIST_DIR}/command_file.cpp
    ${CMAKE_CURRENT_LIST_DIR}/diagnostic_file.cpp
    ${CMAKE_CURRENT_LIST_DIR}/exchange_files.cpp
    ${CMAKE_CURRENT_LIST_DIR}/file_bridge.cpp
    ${CMAKE_CURRENT_LIST_DIR}/file_bridge_commands.cpp
    ${CMAKE_CURRENT_LIST_DIR}/file_bridge_loops.cpp
    ${CMAKE_CURRENT_LIST_DIR}/file_bridge_recording.cpp
    ${CMAKE_CURRENT_LIST_DIR}/flight_json.cpp
    ${CMAKE_CURRENT_LIST_DIR}/simulator_thread.cpp)
