# The connection commands: the clipboard report's own home page address (by default the home
# page option's, so that an empty one names no address) and the help file.
set(KESTREL_REPORT_HOME_URL "${KESTREL_HOME_PAGE_URL}" CACHE STRING
  "Home page address named in the clipboard report")
set_property(SOURCE ${CMAKE_CURRENT_SOURCE_DIR}/ClipboardReport.cpp APPEND PROPERTY
  COMPILE_DEFINITIONS "KESTREL_REPORT_HOME_URL=\"${KESTREL_REPORT_HOME_URL}\"")

# The installed help file, found from the executable's folder also after a relocation.
file(RELATIVE_PATH kestrel_help_relative ${CMAKE_INSTALL_FULL_BINDIR}
  ${CMAKE_INSTALL_FULL_DATADIR}/kestrel)
set_property(SOURCE ${CMAKE_CURRENT_SOURCE_DIR}/HelpFile.cpp APPEND PROPERTY
  COMPILE_DEFINITIONS "KESTREL_HELP_RELATIVE_DIR=\"${kestrel_help_relative}\""
  "KESTREL_HELP_INSTALLED_DIR=\"${CMAKE_INSTALL_FULL_DATADIR}/kestrel\"")

include(${PROJECT_SOURCE_DIR}/docs/help/help.cmake)
