kestrel_add_gtest(commands_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/CommandsTest.cpp
  LIBS kestrel_ui LABELS ui)
kestrel_add_gtest(commands_window_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/CommandsWindowTest.cpp
  LIBS kestrel_ui_fakes kestrel_ui kestrel_list kestrel_snapshot kestrel_os LABELS ui)
kestrel_add_gtest(commands_live_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/CommandsLiveTest.cpp
  LIBS kestrel_ui_fakes kestrel_ui kestrel_list kestrel_snapshot kestrel_os LABELS ui live)
