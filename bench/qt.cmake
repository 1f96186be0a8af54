# The connection list through the Qt model and view, offscreen.
if(KESTREL_BUILD_GUI AND TARGET kestrel_ui_qt)
  find_package(Qt6 REQUIRED COMPONENTS Widgets)
  add_executable(qt_model_bench ${CMAKE_CURRENT_LIST_DIR}/QtModelBench.cpp ${CMAKE_CURRENT_LIST_DIR}/SyntheticSnapshot.cpp)
  target_link_libraries(qt_model_bench PRIVATE kestrel_ui_qt kestrel_ui kestrel_list kestrel_snapshot
                        kestrel_os Qt6::Widgets kestrel_warnings benchmark::benchmark)
endif()
