target_sources(velmar_core PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/bridge_mode.cpp
    ${CMAKE_CURRENT_LIST_DIR}/command_line.cpp
    ${CMAKE_CURRENT_LIST_DIR}/simple_mode.cpp)
set_property(SOURCE ${CMAKE_CURRENT_LIST_DIR}/simple_mode.cpp ${CMAKE_CURRENT_LIST_DIR}/command_line.cpp APPEND PROPERTY
    COMPILE_DEFINITIONS VELMAR_VERSION="${PROJECT_VERSION}")

# The entry point links everything else; the rest of app/ goes into velmar_core
# so that tests can reach it.
add_executable(velmar-tracker ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_link_libraries(velmar-tracker PRIVATE velmar_core)
velmar_warnings(velmar-tracker)
if(WIN32 AND NOT MSVC)
    target_sources(velmar-tracker PRIVATE ${CMAKE_CURRENT_LIST_DIR}/velmar-tracker.rc)
endif()
if(VELMAR_SIMCONNECT_DLL)
    add_custom_command(TARGET velmar-tracker POST_BUILD
        COMMAND ${CMAKE_COMMAND} -E copy_if_different ${VELMAR_SIMCONNECT_DLL} $<TARGET_FILE_DIR:velmar-tracker>)
endif()
