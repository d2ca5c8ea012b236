# What `cmake --install` puts where, and the packages `cpack` makes of it:
#   Windows (mingw-w64 or MSVC)  velmar-tracker-<version>-win64.zip
#   Linux                        velmar-tracker_<version>_<arch>.deb and
#                                velmar-tracker-<version>-linux-<processor>.tar.gz
# The version is the project's; the program prints the same number.
# scripts/package builds all three.

set(VELMAR_PACKAGE_CONTACT "Velmar Tracker developers <maintainers@velmar-tracker.invalid>"
    CACHE STRING "The packages' maintainer, \"Name <address>\"")

set(CPACK_PACKAGE_NAME velmar-tracker)
set(CPACK_PACKAGE_VENDOR "Velmar Tracker developers")
set(CPACK_PACKAGE_CONTACT "${VELMAR_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "file-based bridge between Microsoft Flight Simulator and a web server")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

if(WIN32)
    # Everything in one folder: the program, and the SDK's DLL when built with it.
    install(TARGETS velmar-tracker RUNTIME DESTINATION .)
    if(VELMAR_SIMCONNECT_DLL)
        install(FILES ${VELMAR_SIMCONNECT_DLL} DESTINATION .)
    endif()
    install(FILES README.md DESTINATION .)
    install(FILES docs/server-interface.md docs/export.md DESTINATION docs)
    install(DIRECTORY docs/schema DESTINATION docs)
    # Under examples/, not beside the program: a SimConnect.cfg in the folder the
    # program starts in sends it to another PC.
    install(FILES packaging/SimConnect.cfg DESTINATION examples)

    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_FILE_NAME "velmar-tracker-${PROJECT_VERSION}-win64")
else()
    # The README's links (docs/...) hold in the installed documentation too.
    set(velmar_doc_dir share/doc/velmar-tracker)
    install(TARGETS velmar-tracker RUNTIME DESTINATION bin)
    if(TARGET sim-standin)
        install(TARGETS sim-standin RUNTIME DESTINATION bin)
    endif()
    install(FILES README.md packaging/debian/copyright DESTINATION ${velmar_doc_dir})
    install(FILES docs/server-interface.md docs/architecture.md docs/export.md DESTINATION ${velmar_doc_dir}/docs)
    install(DIRECTORY docs/schema DESTINATION ${velmar_doc_dir}/docs)

    # The changelog and the manual pages, compressed as Debian expects (gzip -9n:
    # no name or time stamp inside, so rebuilding changes no byte).
    find_program(VELMAR_GZIP gzip REQUIRED)
    string(TIMESTAMP VELMAR_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
    set(velmar_generated ${CMAKE_BINARY_DIR}/packaging)
    configure_file(packaging/debian/changelog.in ${velmar_generated}/changelog @ONLY)
    configure_file(packaging/man/velmar-tracker.1 ${velmar_generated}/velmar-tracker.1 @ONLY)
    configure_file(packaging/man/sim-standin.1 ${velmar_generated}/sim-standin.1 @ONLY)
    foreach(file IN ITEMS changelog velmar-tracker.1 sim-standin.1)
        execute_process(COMMAND ${VELMAR_GZIP} -9nf ${velmar_generated}/${file} RESULT_VARIABLE status)
        if(NOT status EQUAL 0)
            message(FATAL_ERROR "gzip failed on ${velmar_generated}/${file}")
        endif()
    endforeach()
    install(FILES ${velmar_generated}/changelog.gz DESTINATION ${velmar_doc_dir})
    install(FILES ${velmar_generated}/velmar-tracker.1.gz ${velmar_generated}/sim-standin.1.gz
        DESTINATION share/man/man1)

    string(TOLOWER "${CMAKE_SYSTEM_PROCESSOR}" velmar_processor)
    set(CPACK_GENERATOR DEB TGZ)
    set(CPACK_PACKAGE_FILE_NAME "velmar-tracker-${PROJECT_VERSION}-linux-${velmar_processor}")
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION utils)
    set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    # The synopsis is the summary above; CPack indents these lines and turns the
    # empty one into the paragraph mark.
    set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "velmar-tracker connects to the simulator through SimConnect and writes the
user's aircraft samples, the connection status and test recordings to JSON
files that a web server reads; the server controls it through a command file.

sim-standin is a small simulator of its own to try the bridge without one.")
endif()

include(CPack)
