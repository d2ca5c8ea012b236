# Each platform header has one source per platform; the build picks the file,
# so nothing outside this folder asks which platform it is on.
target_sources(velmar_core PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/clock.cpp
    ${CMAKE_CURRENT_LIST_DIR}/console.cpp
    ${CMAKE_CURRENT_LIST_DIR}/filesystem.cpp
    ${CMAKE_CURRENT_LIST_DIR}/simconnect_abi_check.cpp)

if(WIN32)
    set(velmar_platform_suffix win32)
else()
    set(velmar_platform_suffix posix)
endif()
foreach(part IN ITEMS clock console environment filesystem folder_lock folder_watch interrupt text wakeup)
    target_sources(velmar_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/${part}_${velmar_platform_suffix}.cpp)
endforeach()
