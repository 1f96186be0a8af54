kestrel_add_gtest(commands_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/CommandsTest.cpp
  LIBS kestrel_ui LABELS ui)
