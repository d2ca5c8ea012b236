# sim-standin: the engine as a library and the small program around it.
add_library(standin_server STATIC
    ${CMAKE_CURRENT_LIST_DIR}/aircraft.cpp
    ${CMAKE_CURRENT_LIST_DIR}/call_log.cpp
    ${CMAKE_CURRENT_LIST_DIR}/client_packets.cpp
    ${CMAKE_CURRENT_LIST_DIR}/control.cpp
    ${CMAKE_CURRENT_LIST_DIR}/control_line.cpp
    ${CMAKE_CURRENT_LIST_DIR}/records.cpp
    ${CMAKE_CURRENT_LIST_DIR}/server.cpp
    ${CMAKE_CURRENT_LIST_DIR}/session.cpp)
target_include_directories(standin_server PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_include_directories(standin_server SYSTEM PUBLIC ${CMAKE_SOURCE_DIR}/simconnect_client/include)
target_link_libraries(standin_server PUBLIC standin_protocol Threads::Threads)
velmar_warnings(standin_server)

add_executable(sim-standin ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_link_libraries(sim-standin PRIVATE standin_server)
velmar_warnings(sim-standin)
