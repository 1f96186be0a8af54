# The real window's refresh at 100,000+ live endpoints, offscreen, against ss -tan.
if(KESTREL_BUILD_GUI AND TARGET kestrel_ui_qt)
  find_package(Qt6 REQUIRED COMPONENTS Widgets)
  add_executable(gui_refresh ${CMAKE_CURRENT_LIST_DIR}/GuiRefresh.cpp)
  target_link_libraries(gui_refresh PRIVATE kestrel_ui_qt kestrel_ui kestrel_list kestrel_snapshot
                        kestrel_os Qt6::Widgets kestrel_warnings)
  add_dependencies(gui_refresh kestrel-socket-load)
endif()
