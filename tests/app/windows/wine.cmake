# The real kestrel.exe under Wine and Xvfb (read from tests/ui/win32/commands.cmake: the
# tests/app folder holds the Linux program's tests only).
if(WIN32 AND TARGET kestrel AND KESTREL_WINE)
  find_program(KESTREL_XVFB Xvfb)
  find_program(KESTREL_XDOTOOL xdotool)
  find_program(KESTREL_IMPORT import)
  find_program(KESTREL_PYTHON3 python3)
  if(KESTREL_XVFB AND KESTREL_XDOTOOL AND KESTREL_IMPORT AND KESTREL_PYTHON3)
    add_executable(kestrel_wine_probe ${CMAKE_CURRENT_LIST_DIR}/WineProbe.cpp)
    target_link_libraries(kestrel_wine_probe PRIVATE kestrel_ui_win32 kestrel_ui kestrel_list
      kestrel_snapshot kestrel_os shell32 kestrel_warnings)
    target_include_directories(kestrel_wine_probe PRIVATE ${PROJECT_SOURCE_DIR}/src)
    # The screenshots are kept in the build tree as the test's artifacts; the test's own
    # prefix (X11 driver, CJK fonts) is made once from the tests' prefix and kept.
    add_test(NAME windows.KestrelUnderWine
      COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/kestrel_wine_test.sh
              $<TARGET_FILE:kestrel> $<TARGET_FILE:kestrel_wine_probe>
              ${CMAKE_BINARY_DIR}/wineprefix ${CMAKE_BINARY_DIR}/wineprefix-x11
              ${CMAKE_CURRENT_BINARY_DIR}/artifacts/kestrel-wine)
    set_tests_properties(windows.KestrelUnderWine PROPERTIES
      LABELS "windows;xvfb" TIMEOUT 400 RESOURCE_LOCK kestrel_wine_x11)
    add_dependencies(kestrel_wine_probe kestrel)
  else()
    message(WARNING "Xvfb, xdotool, ImageMagick's import or python3 missing: "
                    "the test of kestrel.exe under Wine is not registered")
  endif()
endif()

# The Windows programs import nothing newer than the one Windows version of the build.
if(WIN32 AND TARGET kestrel AND TARGET kestrel-snapshot)
  find_program(KESTREL_OBJDUMP NAMES ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-objdump
                                     x86_64-w64-mingw32-objdump objdump)
  add_test(NAME windows.KestrelImports
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/imports_test.sh ${KESTREL_OBJDUMP}
            ${PROJECT_BINARY_DIR}/compile_commands.json ${KESTREL_WIN32_WINNT}
            $<TARGET_FILE:kestrel> $<TARGET_FILE:kestrel-snapshot>)
  set_tests_properties(windows.KestrelImports PROPERTIES LABELS windows TIMEOUT 60)
endif()
