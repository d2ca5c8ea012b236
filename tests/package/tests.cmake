# Shipping: the SDK-folder check as a user configuring the project meets it,
# and, when VELMAR_PACKAGE_DIR names the folder scripts/package fills (dist/),
# the packages themselves: their contents, the .deb unpacked and run, the
# zip's program under Wine, lintian.
set(VELMAR_PACKAGE_DIR "" CACHE PATH "Folder with the packages of scripts/package, to test them")

set(velmar_package_sources ${CMAKE_CURRENT_LIST_DIR}/sdk_folder_test.cpp)
if(VELMAR_PACKAGE_DIR)
    list(APPEND velmar_package_sources ${CMAKE_CURRENT_LIST_DIR}/packages_test.cpp)
endif()
velmar_add_test(package_tests SOURCES ${velmar_package_sources} LABEL package)
target_compile_definitions(package_tests PRIVATE
    VELMAR_CMAKE_COMMAND="${CMAKE_COMMAND}"
    VELMAR_PROJECT_VERSION="${PROJECT_VERSION}")
if(VELMAR_PACKAGE_DIR)
    find_program(VELMAR_WINE_PROGRAM wine REQUIRED)
    target_compile_definitions(package_tests PRIVATE
        VELMAR_PACKAGE_DIR="${VELMAR_PACKAGE_DIR}"
        VELMAR_WINE_PROGRAM="${VELMAR_WINE_PROGRAM}")
endif()
