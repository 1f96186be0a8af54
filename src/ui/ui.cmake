# The window logic: the web addresses of the home page and update buttons and the version
# stamped into the caption come from the build, in this one place.
set_property(SOURCE ${CMAKE_CURRENT_SOURCE_DIR}/UnitFormKestrel.cpp APPEND PROPERTY
  COMPILE_DEFINITIONS
    "KESTREL_HOME_PAGE_URL=\"${KESTREL_HOME_PAGE_URL}\""
    "KESTREL_UPDATE_URL=\"${KESTREL_UPDATE_URL}\""
    "KESTREL_VERSION=\"${PROJECT_VERSION}\"")
