kestrel_add_gtest(list_rows_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/RowsColumnsTest.cpp LIBS kestrel_list LABELS list)
