# Installing as a desktop application: the program, its launcher, its icon in
# the hicolor theme (SVG and sized PNGs) and its AppStream metainfo; CPack
# turns the same install tree into a .deb.
include(GNUInstallDirs)

set(ZARN_APP_ID "example.zarndev.ZarnBandwidth")

add_executable(zarn-export-icons tools/export-icons.cpp)
target_link_libraries(zarn-export-icons PRIVATE zarn_core)

set(ZARN_ICON_DIR ${CMAKE_CURRENT_BINARY_DIR}/icons)
add_custom_command(
  OUTPUT ${ZARN_ICON_DIR}/scalable/apps/${ZARN_APP_ID}.svg
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
          $<TARGET_FILE:zarn-export-icons> ${ZARN_ICON_DIR} ${ZARN_APP_ID}
  DEPENDS zarn-export-icons
  COMMENT "Painting the application icon")
add_custom_target(zarn-icons ALL DEPENDS ${ZARN_ICON_DIR}/scalable/apps/${ZARN_APP_ID}.svg)

install(TARGETS zarn-bandwidth RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES packaging/${ZARN_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES packaging/${ZARN_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(DIRECTORY ${ZARN_ICON_DIR}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor)

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "zarn-bandwidth")
set(CPACK_PACKAGE_VENDOR "ZarnDev")
set(CPACK_PACKAGE_CONTACT "ZarnDev <support@zarndev.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Small desktop network bandwidth monitor with a tray icon")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "net")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON) # debug information stays in the build tree
# The program runs as an X client, in Wayland sessions through Xwayland (the
# window manager then keeps the mini window on top and tells the program
# that its window was minimised). Qt's xcb platform comes with libqt6gui6,
# which the library dependencies already name. Qt's Wayland platform is
# only for sessions without Xwayland, where Qt falls back to it.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wine, qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.zarndev.example/")
include(CPack)
