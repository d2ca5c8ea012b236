# The SimConnect library the product links: the real SDK when SIMCONNECT_SDK_DIR
# names its "SimConnect SDK" folder (a 64-bit Windows target, MSVC, clang-cl or
# mingw-w64), our substitute otherwise. A wrong folder stops the configuration
# with a message that says what is missing, rather than a link error later.
#
# Sets, for simconnect_client/, standin/ and src/ below:
#   VELMAR_SIMCONNECT_SDK_INCLUDE_DIR, VELMAR_SIMCONNECT_SDK_LIBRARY
#   VELMAR_SIMCONNECT_DLL   the DLL to put beside the executable; empty with the substitute

# velmar_simconnect_sdk_problem(<folder> <out>): sets <out> to what is wrong with
# <folder> for this target, or to "" when it can be used.
function(velmar_simconnect_sdk_problem folder out)
    set(problem "")
    if(NOT WIN32)
        string(CONCAT problem "SIMCONNECT_SDK_DIR needs a Windows target: Visual Studio, clang-cl or the mingw-w64 toolchain "
            "(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake). Leave it empty to build with the substitute library.")
    elseif(NOT CMAKE_SIZEOF_VOID_P EQUAL 8)
        string(CONCAT problem "SIMCONNECT_SDK_DIR needs a 64-bit target: the SDK's SimConnect library is 64-bit only "
            "(with Visual Studio configure with -A x64).")
    elseif(NOT IS_DIRECTORY "${folder}")
        set(problem "SIMCONNECT_SDK_DIR: no such folder: ${folder}")
    else()
        set(missing "")
        foreach(file IN ITEMS include/SimConnect.h lib/SimConnect.lib lib/SimConnect.dll)
            if(NOT EXISTS "${folder}/${file}")
                list(APPEND missing "${file}")
            endif()
        endforeach()
        if(missing)
            list(JOIN missing ", " missing_text)
            string(CONCAT problem "SIMCONNECT_SDK_DIR: ${folder} lacks ${missing_text}. Give the SDK's \"SimConnect SDK\" "
                "folder, the one holding include/SimConnect.h and lib/SimConnect.lib and lib/SimConnect.dll "
                "(for example \"C:/MSFS SDK/SimConnect SDK\").")
        endif()
    endif()
    set(${out} "${problem}" PARENT_SCOPE)
endfunction()

# Build folders configured before this check kept the DLL path in the cache,
# and copied the DLL even after SIMCONNECT_SDK_DIR was emptied.
unset(VELMAR_SIMCONNECT_DLL CACHE)
set(VELMAR_SIMCONNECT_SDK_INCLUDE_DIR "")
set(VELMAR_SIMCONNECT_SDK_LIBRARY "")
set(VELMAR_SIMCONNECT_DLL "")

if(SIMCONNECT_SDK_DIR)
    file(TO_CMAKE_PATH "${SIMCONNECT_SDK_DIR}" velmar_sdk_folder)
    velmar_simconnect_sdk_problem("${velmar_sdk_folder}" velmar_sdk_problem)
    if(velmar_sdk_problem)
        message(FATAL_ERROR "${velmar_sdk_problem}")
    endif()
    set(VELMAR_SIMCONNECT_SDK_INCLUDE_DIR "${velmar_sdk_folder}/include")
    set(VELMAR_SIMCONNECT_SDK_LIBRARY "${velmar_sdk_folder}/lib/SimConnect.lib")
    set(VELMAR_SIMCONNECT_DLL "${velmar_sdk_folder}/lib/SimConnect.dll")
    message(STATUS "SimConnect: the SDK in ${velmar_sdk_folder}")
else()
    message(STATUS "SimConnect: the substitute library (simconnect_client/)")
endif()
