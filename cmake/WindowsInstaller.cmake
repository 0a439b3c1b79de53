# The Windows installer, made with NSIS from the same stripped program as the
# zip, with the licence and the notices of what the program links in.
find_program(ZARN_MAKENSIS makensis REQUIRED)
set(ZARN_INSTALLER_SCRIPT ${CMAKE_SOURCE_DIR}/packaging/windows/installer.nsi)
set(ZARN_NOTICES ${CMAKE_SOURCE_DIR}/packaging/windows/THIRD-PARTY-NOTICES.txt)
add_custom_command(
  OUTPUT ${ZARN_SETUP}
  COMMAND ${ZARN_MAKENSIS} -V2 -DVERSION=${PROJECT_VERSION}
          -DPROGRAM=${ZARN_ZIP_DIR}/$<TARGET_FILE_NAME:zarn-bandwidth>
          -DLICENSE_FILE=${CMAKE_SOURCE_DIR}/LICENSE -DNOTICES_FILE=${ZARN_NOTICES}
          -DOUTFILE=${ZARN_SETUP} ${ZARN_INSTALLER_SCRIPT}
  DEPENDS ${ZARN_ZIP} ${ZARN_INSTALLER_SCRIPT} ${CMAKE_SOURCE_DIR}/packaging/windows/ZarnBandwidth.ico
          ${CMAKE_SOURCE_DIR}/LICENSE ${ZARN_NOTICES}
  COMMENT "Making ${ZARN_SETUP}")
add_custom_target(zarn-setup ALL DEPENDS ${ZARN_SETUP})
