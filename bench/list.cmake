add_executable(list_bench ${CMAKE_CURRENT_LIST_DIR}/ListBench.cpp ${CMAKE_CURRENT_LIST_DIR}/SyntheticSnapshot.cpp)
target_link_libraries(list_bench PRIVATE kestrel_list kestrel_warnings benchmark::benchmark benchmark::benchmark_main)
