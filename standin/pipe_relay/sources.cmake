# pipe-relay: the simulator's named pipe served and forwarded to a TCP port,
# so the client's pipe transport is tested under Wine against the native
# sim-standin. Windows only.
add_executable(pipe-relay ${CMAKE_CURRENT_LIST_DIR}/pipe_relay.cpp)
target_link_libraries(pipe-relay PRIVATE ws2_32 Threads::Threads)
velmar_warnings(pipe-relay)
