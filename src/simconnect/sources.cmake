target_sources(velmar_core PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/liveness.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sample_definition.cpp
    ${CMAKE_CURRENT_LIST_DIR}/simconnect_aircraft_state.cpp
    ${CMAKE_CURRENT_LIST_DIR}/simconnect_dispatch.cpp
    ${CMAKE_CURRENT_LIST_DIR}/simconnect_manager.cpp
    ${CMAKE_CURRENT_LIST_DIR}/simconnect_status.cpp
    ${CMAKE_CURRENT_LIST_DIR}/simulator_control.cpp)
