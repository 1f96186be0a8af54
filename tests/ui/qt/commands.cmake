find_package(Qt6 REQUIRED COMPONENTS Widgets DBus Test)
kestrel_add_gtest(commands_qt_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/CommandsQtTest.cpp
  LIBS kestrel_ui_qt kestrel_ui kestrel_list kestrel_snapshot kestrel_os Qt6::DBus Qt6::Test
  LABELS qt)

# The commands in the real window under Xvfb, with a program of known name holding a socket.
add_executable(kestrel_socket_holder ${CMAKE_CURRENT_LIST_DIR}/SocketHolder.cpp)
target_link_libraries(kestrel_socket_holder PRIVATE kestrel_warnings)
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL kestrel_add_commands_xvfb_test)
function(kestrel_add_commands_xvfb_test)
  find_program(KESTREL_XVFB Xvfb)
  find_program(KESTREL_XDOTOOL xdotool)
  find_program(KESTREL_IMPORT import)
  find_program(KESTREL_XCLIP xclip)
  find_program(KESTREL_OPENBOX openbox)
  find_program(KESTREL_XPROP xprop)
  if(NOT TARGET kestrel OR NOT (KESTREL_XVFB AND KESTREL_XDOTOOL AND KESTREL_IMPORT AND KESTREL_XCLIP
                                AND KESTREL_OPENBOX AND KESTREL_XPROP))
    return()
  endif()
  add_test(NAME ui.CommandsUnderXvfb
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/ui/qt/commands_xvfb_test.sh $<TARGET_FILE:kestrel>
            $<TARGET_FILE:kestrel_socket_holder> ${PROJECT_BINARY_DIR}/tests/ui/qt/artifacts)
  set_tests_properties(ui.CommandsUnderXvfb PROPERTIES LABELS "qt;xvfb" TIMEOUT 300)
endfunction()
