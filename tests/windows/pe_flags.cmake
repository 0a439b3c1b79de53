# The program's PE header: DllCharacteristics must carry DYNAMIC_BASE (0x40),
# HIGH_ENTROPY_VA (0x20) and NX_COMPAT (0x100). Run with -DOBJDUMP= and
# -DPROGRAM=.
execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE header RESULT_VARIABLE rc)
if(rc OR NOT header MATCHES "DllCharacteristics[ \t]+([0-9a-fA-F]+)")
  message(FATAL_ERROR "${OBJDUMP} found no DllCharacteristics in ${PROGRAM}")
endif()
math(EXPR flags "0x${CMAKE_MATCH_1}" OUTPUT_FORMAT HEXADECIMAL)
string(REGEX MATCH "DllCharacteristics[^\n]*(\n\t\t+[A-Z_]+)*" names "${header}")
string(REGEX REPLACE "[\n\t]+" " " names "${names}")
message(STATUS "${PROGRAM}: ${names}")
math(EXPR missing "0x160 & ~${flags}" OUTPUT_FORMAT HEXADECIMAL)
if(NOT missing EQUAL 0)
  message(FATAL_ERROR "DllCharacteristics ${flags} lacks ${missing}")
endif()
