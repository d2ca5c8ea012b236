find_package(nlohmann_json 3 REQUIRED)
velmar_add_test(e2e_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/bridge_e2e_test.cpp
    LIBS nlohmann_json::nlohmann_json)
# The executables under test must be built before the tests run.
add_dependencies(e2e_tests velmar-tracker sim-standin)

# The Windows executable's bridge mode under Wine (see tests/wine).
if(VELMAR_WINDOWS_EXE)
    find_program(VELMAR_WINE_PROGRAM wine REQUIRED)
    velmar_add_test(e2e_wine_tests
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/bridge_wine_test.cpp
        LIBS nlohmann_json::nlohmann_json
        LABELS wine)
    target_compile_definitions(e2e_wine_tests PRIVATE
        VELMAR_WINDOWS_EXE="${VELMAR_WINDOWS_EXE}"
        VELMAR_WINE_PROGRAM="${VELMAR_WINE_PROGRAM}")
    add_dependencies(e2e_wine_tests sim-standin)
endif()
