# The substitute SimConnect client library: the SDK's C API over SimConnect's
# network protocol, on TCP or the named pipe. One socket file per platform
# behind socket.h; config.cpp chooses where Open connects.
add_library(simconnect_substitute STATIC
    ${CMAKE_CURRENT_LIST_DIR}/config.cpp
    ${CMAKE_CURRENT_LIST_DIR}/connection.cpp
    ${CMAKE_CURRENT_LIST_DIR}/record_reader.cpp
    ${CMAKE_CURRENT_LIST_DIR}/simconnect_api.cpp)
if(WIN32)
    target_sources(simconnect_substitute PRIVATE ${CMAKE_CURRENT_LIST_DIR}/socket_win32.cpp)
    target_link_libraries(simconnect_substitute PUBLIC ws2_32)
else()
    target_sources(simconnect_substitute PRIVATE ${CMAKE_CURRENT_LIST_DIR}/socket_posix.cpp)
endif()
# SYSTEM: like the SDK header, ours is outside our warning rules (C-style casts in its constants and macros).
target_include_directories(simconnect_substitute SYSTEM PUBLIC ${CMAKE_CURRENT_LIST_DIR}/../include)
target_link_libraries(simconnect_substitute PUBLIC Threads::Threads PRIVATE standin_protocol)
velmar_warnings(simconnect_substitute)
