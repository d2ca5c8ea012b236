# The Windows executable under Wine against a native sim-standin. Built only
# when VELMAR_WINDOWS_EXE names a velmar-tracker.exe (from the mingw-w64
# cross-build); Wine takes WINEPREFIX, WINEDEBUG and the like from the
# environment of ctest.
if(VELMAR_WINDOWS_EXE)
    find_program(VELMAR_WINE_PROGRAM wine REQUIRED)
    find_package(nlohmann_json 3 REQUIRED)
    velmar_add_test(wine_tests
        SOURCES
            ${CMAKE_CURRENT_LIST_DIR}/wine_bridge_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/wine_files_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/wine_simple_mode_test.cpp
        LIBS nlohmann_json::nlohmann_json
        LABEL wine)
    # pipe-relay.exe and hold-file.exe come from the same cross-build.
    get_filename_component(windows_bin ${VELMAR_WINDOWS_EXE} DIRECTORY)
    target_compile_definitions(wine_tests PRIVATE
        VELMAR_WINDOWS_EXE="${VELMAR_WINDOWS_EXE}"
        VELMAR_PIPE_RELAY="${windows_bin}/pipe-relay.exe"
        VELMAR_HOLD_FILE="${windows_bin}/hold-file.exe"
        VELMAR_WINE_PROGRAM="${VELMAR_WINE_PROGRAM}")
endif()
