# Included from tools/CMakeLists.txt (not a subdirectory) so that the binary can be build/tools/vtreplay:
# a subdirectory of that name would occupy the path with its own build folder.
add_executable(vtreplay ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_link_libraries(vtreplay PRIVATE vt_terminal)
set_target_properties(vtreplay PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
