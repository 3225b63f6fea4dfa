# Included from tools/CMakeLists.txt so that the binary is build/tools/demohost. Plain POSIX sockets, no Qt.
add_executable(demohost ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_compile_definitions(demohost PRIVATE DEMOHOST_DEMO_FILE="${CMAKE_SOURCE_DIR}/docs/demo.vt")
set_target_properties(demohost PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools AUTOUIC OFF AUTOMOC OFF)

# A loopback session through vtsession: negotiation, the demo stream and each page of the interactive part.
if(TARGET vtsession)
  add_test(NAME demohost_session
           COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tests/session/demohost_test.py $<TARGET_FILE:demohost>
                   $<TARGET_FILE:vtsession>)
  set_tests_properties(demohost_session PROPERTIES TIMEOUT 120 LABELS integration)
endif()
