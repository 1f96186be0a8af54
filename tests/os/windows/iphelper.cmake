# The decoding of IP Helper's tables is plain byte work: tested on fixtures on every system.
kestrel_add_gtest(iphelper_tables_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/IpHelperTablesTest.cpp
  LIBS kestrel_os
  LABELS os)
