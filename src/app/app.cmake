# The window program `kestrel`, its desktop entry and its icon.
if(KESTREL_BUILD_GUI AND TARGET kestrel_ui_qt)
  # Qt's imported targets are visible only in the folder that found them.
  find_package(Qt6 REQUIRED COMPONENTS Widgets)
  add_executable(kestrel ${CMAKE_CURRENT_LIST_DIR}/PKestrel.cpp)
  # kestrel_os last: the layers above link only its declarations.
  target_link_libraries(kestrel PRIVATE kestrel_ui_qt kestrel_ui kestrel_list kestrel_snapshot
                                        kestrel_os kestrel_warnings)
  install(TARGETS kestrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

  install(FILES ${CMAKE_CURRENT_LIST_DIR}/kestrel.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/icons/kestrel.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  foreach(size IN ITEMS 16 22 24 32 48 64 128 256)
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/icons/kestrel-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME kestrel.png)
  endforeach()
endif()
