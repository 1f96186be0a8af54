# The Qt main window with QtTest on the offscreen platform.
find_package(Qt6 REQUIRED COMPONENTS Widgets Test)

add_executable(test_kestrel_main_window ${CMAKE_CURRENT_LIST_DIR}/test_KestrelMainWindow.cpp)
set_target_properties(test_kestrel_main_window PROPERTIES AUTOMOC ON)
target_link_libraries(test_kestrel_main_window PRIVATE
  kestrel_ui_qt kestrel_ui kestrel_list kestrel_snapshot kestrel_os Qt6::Widgets Qt6::Test
  kestrel_warnings)
target_include_directories(test_kestrel_main_window PRIVATE ${PROJECT_SOURCE_DIR}/tests)
add_test(NAME qt.KestrelMainWindow COMMAND test_kestrel_main_window)
set_tests_properties(qt.KestrelMainWindow PROPERTIES
  LABELS "qt"
  ENVIRONMENT "QT_QPA_PLATFORM=offscreen;XDG_RUNTIME_DIR=${CMAKE_CURRENT_BINARY_DIR}/runtime")
