# Installing as a desktop application: the program, its launcher, its icon in
# the hicolor theme (SVG and sized PNGs) and its AppStream metainfo; CPack
# turns the same install tree into a .deb.
include(GNUInstallDirs)

set(ZARN_CONTACT "ZarnDev <support@zarndev.example>")

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

# The manual page and the changelog go in compressed as Debian wants them:
# gzip -9, and -n so that the archive holds no name or time stamp and the
# package comes out the same from the same sources. A package without a
# Debian revision must carry its changelog in Debian's format, made here
# from CHANGELOG.md.
find_program(ZARN_GZIP gzip REQUIRED)
set(ZARN_DOC_DIR ${CMAKE_CURRENT_BINARY_DIR}/doc)
add_custom_command(
  OUTPUT ${ZARN_DOC_DIR}/zarn-bandwidth.1.gz ${ZARN_DOC_DIR}/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_SOURCE_DIR}/packaging/zarn-bandwidth.1
          ${ZARN_DOC_DIR}/zarn-bandwidth.1
  COMMAND ${CMAKE_COMMAND} -DSOURCE=${CMAKE_CURRENT_SOURCE_DIR}/CHANGELOG.md
          -DOUTPUT=${ZARN_DOC_DIR}/changelog -DPACKAGE=zarn-bandwidth
          "-DMAINTAINER=${ZARN_CONTACT}"
          -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/DebianChangelog.cmake
  COMMAND ${ZARN_GZIP} -9nf ${ZARN_DOC_DIR}/zarn-bandwidth.1 ${ZARN_DOC_DIR}/changelog
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/packaging/zarn-bandwidth.1
          ${CMAKE_CURRENT_SOURCE_DIR}/CHANGELOG.md
          ${CMAKE_CURRENT_SOURCE_DIR}/cmake/DebianChangelog.cmake
  COMMENT "Compressing the manual page and the changelog"
  VERBATIM)
add_custom_target(zarn-docs ALL DEPENDS ${ZARN_DOC_DIR}/zarn-bandwidth.1.gz ${ZARN_DOC_DIR}/changelog.gz)
install(FILES ${ZARN_DOC_DIR}/zarn-bandwidth.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${ZARN_DOC_DIR}/changelog.gz packaging/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zarn-bandwidth)

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "zarn-bandwidth")
set(CPACK_PACKAGE_VENDOR "ZarnDev")
set(CPACK_PACKAGE_CONTACT "${ZARN_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Small desktop network bandwidth monitor with a tray icon")
# The package's long description; CPack puts the summary above it. Lines
# stay within 80 columns, and a blank line starts a new paragraph.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Zarn Bandwidth shows how many bytes one network interface has sent and"
  "received and how fast it is working right now: in a small window, in a"
  "tiny always-on-top window with both rates, and as a tray icon whose two"
  "arrows turn green, yellow or red with the upload and download load."
  ""
  "It also keeps a history of every interface's use across restarts, shows"
  "it by day and by month, warns before a data cap is used up, and prints it"
  "on the command line, also as JSON for scripts.")
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
