# The window logic without a display: fake components, a kept-in-memory list, real files.
add_library(kestrel_ui_fakes STATIC ${CMAKE_CURRENT_LIST_DIR}/FakeComponents.cpp)
target_include_directories(kestrel_ui_fakes PUBLIC ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(kestrel_ui_fakes PUBLIC kestrel_ui PRIVATE kestrel_warnings)

kestrel_add_gtest(ui_components_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ComponentsTest.cpp
  LIBS kestrel_ui_fakes kestrel_ui kestrel_list kestrel_snapshot kestrel_os
  LABELS ui)
kestrel_add_gtest(ui_version_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/UPub_VersionTest.cpp
  LIBS kestrel_ui kestrel_list kestrel_snapshot kestrel_os
  LABELS ui)
# Linux only: it moves the settings file with setenv(XDG_CONFIG_HOME); on Windows the file
# lives next to the executable (tests/os/windows covers that).
if(NOT WIN32)
  kestrel_add_gtest(ui_inifile_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/IniFileTest.cpp
    LIBS kestrel_ui kestrel_list kestrel_snapshot kestrel_os
    LABELS ui)
endif()
kestrel_add_gtest(ui_formkestrel_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/UnitFormKestrelTest.cpp
  LIBS kestrel_ui_fakes kestrel_ui kestrel_list kestrel_snapshot kestrel_os
  LABELS ui)
target_compile_definitions(ui_formkestrel_test PRIVATE
  "KESTREL_HOME_PAGE_URL=\"${KESTREL_HOME_PAGE_URL}\""
  "KESTREL_UPDATE_URL=\"${KESTREL_UPDATE_URL}\"")
