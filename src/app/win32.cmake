# The window program kestrel.exe: the Win32 window over the same core, with its icon and its
# manifest (common controls 6, per-monitor DPI awareness, no elevation) as resources.
if(WIN32 AND KESTREL_BUILD_GUI AND TARGET kestrel_ui_win32 AND NOT TARGET kestrel)
  enable_language(RC)
  add_executable(kestrel WIN32
    ${CMAKE_CURRENT_LIST_DIR}/PKestrelWin32.cpp
    ${CMAKE_CURRENT_LIST_DIR}/win32/kestrel.rc)
  set_property(SOURCE ${CMAKE_CURRENT_LIST_DIR}/win32/kestrel.rc APPEND PROPERTY
    OBJECT_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/win32/kestrel.ico
                   ${CMAKE_CURRENT_LIST_DIR}/win32/kestrel.manifest)
  # wWinMain is the entry.
  target_link_options(kestrel PRIVATE -municode)
  # kestrel_os last: the layers above link only its declarations.
  target_link_libraries(kestrel PRIVATE kestrel_ui_win32 kestrel_ui kestrel_list kestrel_snapshot
                                        kestrel_os kestrel_win32 ole32 comctl32 kestrel_warnings)
  install(TARGETS kestrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
