# The Windows package: a zip with the program, its licence and the notices
# of what it links in. Qt, SQLite, the C++ runtime and winpthreads are linked
# in statically, so ZarnBandwidth.exe is the whole program and needs only the
# DLLs every Windows has; the licences of what is linked in go with it.
set(ZARN_ZIP ${CMAKE_BINARY_DIR}/ZarnBandwidth-${PROJECT_VERSION}-windows-x64.zip)
set(ZARN_ZIP_DIR ${CMAKE_BINARY_DIR}/zip/ZarnBandwidth-${PROJECT_VERSION})
add_custom_command(
  OUTPUT ${ZARN_ZIP}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${CMAKE_BINARY_DIR}/zip
  COMMAND ${CMAKE_COMMAND} -E make_directory ${ZARN_ZIP_DIR}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:zarn-bandwidth> ${ZARN_ZIP_DIR}/
  COMMAND ${CMAKE_STRIP} ${ZARN_ZIP_DIR}/$<TARGET_FILE_NAME:zarn-bandwidth>
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/LICENSE ${ZARN_ZIP_DIR}/LICENSE.txt
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/packaging/windows/THIRD-PARTY-NOTICES.txt
          ${ZARN_ZIP_DIR}/
  COMMAND ${CMAKE_COMMAND} -E chdir ${CMAKE_BINARY_DIR}/zip
          ${CMAKE_COMMAND} -E tar cf ${ZARN_ZIP} --format=zip ZarnBandwidth-${PROJECT_VERSION}
  DEPENDS zarn-bandwidth ${CMAKE_SOURCE_DIR}/LICENSE
          ${CMAKE_SOURCE_DIR}/packaging/windows/THIRD-PARTY-NOTICES.txt
  COMMENT "Packing ${ZARN_ZIP}")
add_custom_target(zarn-zip ALL DEPENDS ${ZARN_ZIP})
