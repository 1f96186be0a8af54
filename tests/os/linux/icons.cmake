# Desktop entries, package databases and icon names: on fixtures, and on the live system.
kestrel_add_gtest(desktop_knowledge_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/DesktopKnowledgeTest.cpp
  LIBS kestrel_os
  LABELS linux)
kestrel_add_gtest(icons_live_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/IconsLiveTest.cpp
  LIBS kestrel_snapshot kestrel_os
  LABELS live)
