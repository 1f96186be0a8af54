# Reading version resources from files (the PE files are built by the tests' builder).
if(TARGET kestrel_pe_builder)
  add_executable(version_bench ${CMAKE_CURRENT_LIST_DIR}/VersionBench.cpp)
  target_link_libraries(version_bench
    PRIVATE kestrel_snapshot kestrel_os kestrel_pe_builder benchmark::benchmark kestrel_warnings)
endif()
