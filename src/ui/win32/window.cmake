# The main window's components draw their pictures with alpha (AlphaBlend).
if(TARGET kestrel_ui_win32)
  target_link_libraries(kestrel_ui_win32 PUBLIC msimg32)
endif()
