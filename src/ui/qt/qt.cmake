# The component layer in Qt Widgets: kestrel_ui_qt (the main window and its controls).
find_package(Qt6 REQUIRED COMPONENTS Widgets)

file(GLOB kestrel_ui_qt_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
file(GLOB kestrel_ui_qt_headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
add_library(kestrel_ui_qt STATIC ${kestrel_ui_qt_sources} ${kestrel_ui_qt_headers})
set_target_properties(kestrel_ui_qt PROPERTIES AUTOMOC ON)
target_include_directories(kestrel_ui_qt PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(kestrel_ui_qt PUBLIC kestrel_ui Qt6::Widgets PRIVATE kestrel_warnings)

# The pictures (":/kestrel/pictures/...") and the application icon (":/kestrel/icons/...").
# For a static library Qt builds the resources as an object library that every program
# linking kestrel_ui_qt takes in, so no explicit initialisation is needed.
set(kestrel_icon_dir ${PROJECT_SOURCE_DIR}/src/app/icons)
set(kestrel_icon_files "")
foreach(size IN ITEMS 16 22 24 32 48 64 128 256)
  set(icon ${kestrel_icon_dir}/kestrel-${size}.png)
  set_source_files_properties(${icon} PROPERTIES QT_RESOURCE_ALIAS icons/kestrel-${size}.png)
  list(APPEND kestrel_icon_files ${icon})
endforeach()
qt_add_resources(kestrel_ui_qt kestrel_ui_qt_pictures
  PREFIX /kestrel
  BASE ${PROJECT_SOURCE_DIR}/src/ui
  FILES
    ${PROJECT_SOURCE_DIR}/src/ui/pictures/manage.xpm
    ${PROJECT_SOURCE_DIR}/src/ui/pictures/help.xpm
    ${PROJECT_SOURCE_DIR}/src/ui/pictures/update.xpm
    ${PROJECT_SOURCE_DIR}/src/ui/pictures/homepage.xpm
    ${PROJECT_SOURCE_DIR}/src/ui/pictures/refresh.xpm
    ${PROJECT_SOURCE_DIR}/src/ui/pictures/endprocess.xpm
    ${kestrel_icon_files})
