find_package(Qt6 REQUIRED COMPONENTS Widgets DBus Test)
kestrel_add_gtest(commands_qt_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/CommandsQtTest.cpp
  LIBS kestrel_ui_qt kestrel_ui kestrel_list kestrel_snapshot kestrel_os Qt6::DBus Qt6::Test
  LABELS qt)
