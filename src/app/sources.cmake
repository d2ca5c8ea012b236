target_sources(velmar_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/command_line.cpp)

# The entry point links everything else; the rest of app/ goes into velmar_core
# so that tests can reach it.
add_executable(velmar-tracker ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_link_libraries(velmar-tracker PRIVATE velmar_core)
velmar_warnings(velmar-tracker)
if(VELMAR_SIMCONNECT_DLL)
    add_custom_command(TARGET velmar-tracker POST_BUILD
        COMMAND ${CMAKE_COMMAND} -E copy_if_different ${VELMAR_SIMCONNECT_DLL} $<TARGET_FILE_DIR:velmar-tracker>)
endif()
