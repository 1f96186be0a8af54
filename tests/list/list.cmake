kestrel_add_gtest(list_rows_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/RowsColumnsTest.cpp LIBS kestrel_list LABELS list)
kestrel_add_gtest(list_control_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/MemoryListControlTest.cpp LIBS kestrel_list LABELS list)
kestrel_add_gtest(list_fill_refresh_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/ConnectionListTest.cpp LIBS kestrel_list LABELS list)
kestrel_add_gtest(list_gestures_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/GesturesTest.cpp LIBS kestrel_list kestrel_snapshot kestrel_os_fake LABELS list)
