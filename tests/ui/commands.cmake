kestrel_add_gtest(commands_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/CommandsTest.cpp
  LIBS kestrel_ui LABELS ui)
kestrel_add_gtest(commands_window_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/CommandsWindowTest.cpp
  LIBS kestrel_ui_fakes kestrel_ui kestrel_list kestrel_snapshot kestrel_os LABELS ui)
# Linux only: its child process holding sockets is a POSIX fork (tests/os/linux/SocketChild.h).
if(NOT WIN32)
  kestrel_add_gtest(commands_live_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/CommandsLiveTest.cpp
    LIBS kestrel_ui_fakes kestrel_ui kestrel_list kestrel_snapshot kestrel_os LABELS ui live)
endif()
