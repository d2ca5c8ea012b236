# SimConnect's network protocol, shared by the client library and sim-standin.
add_library(standin_protocol STATIC ${CMAKE_CURRENT_LIST_DIR}/protocol.cpp)
target_include_directories(standin_protocol PUBLIC ${CMAKE_CURRENT_LIST_DIR})
velmar_warnings(standin_protocol)
