# The connection commands: the clipboard report's own home page address and the help file.
set(KESTREL_REPORT_HOME_URL "${KESTREL_HOME_PAGE_URL}" CACHE STRING
  "Home page address named in the clipboard report")
set_property(SOURCE ${CMAKE_CURRENT_SOURCE_DIR}/ClipboardReport.cpp APPEND PROPERTY
  COMPILE_DEFINITIONS "KESTREL_REPORT_HOME_URL=\"${KESTREL_REPORT_HOME_URL}\"")

include(${PROJECT_SOURCE_DIR}/docs/help/help.cmake)
