target_sources(velmar_core PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/aircraft_identity.cpp
    ${CMAKE_CURRENT_LIST_DIR}/aircraft_diagnostic.cpp)
