# hold-file: holds a file open as a Python reader does, for the Wine tests.
add_executable(hold-file ${CMAKE_CURRENT_LIST_DIR}/hold_file.cpp)
velmar_warnings(hold-file)
