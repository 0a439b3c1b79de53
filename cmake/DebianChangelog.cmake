# Turns CHANGELOG.md into the Debian changelog format that a package's
# changelog.gz must have (lintian and apt-listchanges parse it):
#
#   zarn-bandwidth (1.3.0) unstable; urgency=medium
#
#     * First line of an item,
#       its continuation.
#
#    -- ZarnDev <support@zarndev.example>  Tue, 08 Dec 2026 12:00:00 +0000
#
# Each "## VERSION (YYYY-MM-DD)" heading starts an entry, each "- " line an
# item, and indented lines continue it; the text before the first heading
# and the backticks of code spans are left out.
#
# cmake -DSOURCE=CHANGELOG.md -DOUTPUT=changelog -DPACKAGE=name
#       -DMAINTAINER="Name <mail>" -P DebianChangelog.cmake

# The day of the week of a date (Zeller's congruence), as Debian wants it.
function(weekday year month day out)
  if(month LESS 3)
    math(EXPR month "${month} + 12")
    math(EXPR year "${year} - 1")
  endif()
  math(EXPR k "${year} % 100")
  math(EXPR j "${year} / 100")
  math(EXPR h "(${day} + (13 * (${month} + 1)) / 5 + ${k} + ${k} / 4 + ${j} / 4 + 5 * ${j}) % 7")
  set(names "Sat;Sun;Mon;Tue;Wed;Thu;Fri")
  list(GET names ${h} name)
  set(${out} ${name} PARENT_SCOPE)
endfunction()

set(months "Jan;Feb;Mar;Apr;May;Jun;Jul;Aug;Sep;Oct;Nov;Dec")
# Semicolons would split the lines of a CMake list; they travel as a
# character that a text file does not hold, and come back at the end.
string(ASCII 1 semicolon)
file(READ ${SOURCE} content)
string(REPLACE ";" "${semicolon}" content "${content}")
string(REPLACE "\n" ";" lines "${content}")
# Debian wants each entry later than the one below it: releases of one day
# are an hour apart, from noon, the newest last.
set(dates "")
foreach(line IN LISTS lines)
  if(line MATCHES "^## [0-9][^ ]* \\(([0-9-]+)\\)$")
    list(APPEND dates ${CMAKE_MATCH_1})
  endif()
endforeach()
set(entry 0)
set(text "")
set(trailer "")
foreach(line IN LISTS lines)
  string(REPLACE "`" "" line "${line}")
  if(line MATCHES "^## ([0-9][^ ]*) \\(([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])\\)$")
    set(version ${CMAKE_MATCH_1})
    set(y ${CMAKE_MATCH_2})
    set(m ${CMAKE_MATCH_3})
    set(d ${CMAKE_MATCH_4})
    math(EXPR mi "${m} - 1")
    list(GET months ${mi} month)
    weekday(${y} ${m} ${d} wd)
    math(EXPR entry "${entry} + 1")
    set(older "")
    list(LENGTH dates count)
    if(entry LESS count)
      list(SUBLIST dates ${entry} -1 older)
      list(FILTER older INCLUDE REGEX "^${y}-${m}-${d}$")
    endif()
    list(LENGTH older hour)
    math(EXPR hour "12 + ${hour}")
    string(APPEND text "${trailer}${PACKAGE} (${version}) unstable; urgency=medium\n\n")
    set(trailer "\n -- ${MAINTAINER}  ${wd}, ${d} ${month} ${y} ${hour}:00:00 +0000\n\n")
  elseif(line MATCHES "^## ")
    message(FATAL_ERROR "${SOURCE}: a heading without a version and date: ${line}")
  elseif(trailer STREQUAL "")
    # The introduction before the first version.
  elseif(line MATCHES "^- (.*)$")
    string(APPEND text "  * ${CMAKE_MATCH_1}\n")
  elseif(line MATCHES "^  +([^ ].*)$")
    string(APPEND text "    ${CMAKE_MATCH_1}\n")
  elseif(NOT line STREQUAL "")
    message(FATAL_ERROR "${SOURCE}: neither an item nor its continuation: ${line}")
  endif()
endforeach()
if(trailer STREQUAL "")
  message(FATAL_ERROR "${SOURCE} has no version")
endif()
string(APPEND text "${trailer}")
string(REGEX REPLACE "\n\n$" "\n" text "${text}")
string(REPLACE "${semicolon}" ";" text "${text}")
file(WRITE ${OUTPUT} "${text}")
