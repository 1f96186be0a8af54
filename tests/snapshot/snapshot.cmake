kestrel_add_gtest(snapshot_algorithm_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/GetTcpUdpTableTest.cpp
  LIBS kestrel_snapshot kestrel_os_fake
  LABELS snapshot)
