# node-simconnect, an independent SimConnect client run unmodified from
# tests/node/node_modules (scripts/install-deps runs `npm ci` there), judges
# sim-standin and the packets of our client.
find_program(VELMAR_NODE_PROGRAM node)
if(TARGET sim-standin AND VELMAR_NODE_PROGRAM)
    add_test(NAME node_judge COMMAND ${VELMAR_NODE_PROGRAM} --test ${CMAKE_CURRENT_LIST_DIR}/judge.test.js)
    set_tests_properties(node_judge PROPERTIES LABELS node TIMEOUT 300
        ENVIRONMENT "VELMAR_STANDIN=$<TARGET_FILE:sim-standin>")

    velmar_add_test(node_packet_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/same_packets_test.cpp
        LIBS standin_protocol nlohmann_json::nlohmann_json LABEL node)
    target_compile_definitions(node_packet_tests PRIVATE
        VELMAR_NODE_PROGRAM="${VELMAR_NODE_PROGRAM}" VELMAR_NODE_DIR="${CMAKE_CURRENT_LIST_DIR}")
    add_dependencies(node_packet_tests velmar-tracker sim-standin)
elseif(TARGET sim-standin)
    message(WARNING "node not found: the node-simconnect checks are left out (scripts/install-deps installs it)")
endif()
