add_executable(kestrel-snapshot ${CMAKE_CURRENT_LIST_DIR}/KestrelSnapshot.cpp)
target_link_libraries(kestrel-snapshot PRIVATE kestrel_list kestrel_snapshot kestrel_os kestrel_warnings)
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  # Named in --help, where the helper's capabilities are explained.
  target_compile_definitions(kestrel-snapshot PRIVATE
    KESTREL_HELPER_INSTALLED="${CMAKE_INSTALL_FULL_LIBEXECDIR}/kestrel/kestrel-helper")
endif()
install(TARGETS kestrel-snapshot RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
