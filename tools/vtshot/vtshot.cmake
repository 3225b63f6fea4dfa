# Included from tools/CMakeLists.txt so that the binary is build/tools/vtshot (a subdirectory of that name would
# occupy the path with its own build folder).
add_executable(vtshot ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_link_libraries(vtshot PRIVATE vt_view vt_adapters)
set_target_properties(vtshot PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools AUTOUIC OFF AUTOMOC OFF)

# The drawing path end to end: the vim recording through the view offscreen, colours checked at known cells.
add_test(NAME vtshot_colours COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tests/view/vtshot_test.py
                                     $<TARGET_FILE:vtshot> ${CMAKE_SOURCE_DIR}/tests/terminal/recordings)
set_tests_properties(vtshot_colours PROPERTIES TIMEOUT 120)
