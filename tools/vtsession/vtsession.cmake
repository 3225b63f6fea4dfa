# Included from tools/CMakeLists.txt so that the binary can be build/tools/vtsession (a subdirectory of that name
# would occupy the path with its own build folder).
add_executable(vtsession ${CMAKE_CURRENT_LIST_DIR}/main.cpp ${CMAKE_CURRENT_LIST_DIR}/session_run.cpp)
target_link_libraries(vtsession PRIVATE vt_adapters vt_connection vt_ssh vt_session vt_config vt_terminal vt_sftp Qt6::Core Qt6::Network)
set_target_properties(vtsession PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools AUTOUIC OFF AUTOMOC OFF)
