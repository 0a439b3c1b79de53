# Fails when the folders under src/ include each other in a circle. A folder
# may include the folders below it (README, Layout); one that reaches back
# up makes the two one module in all but name, and a change to either can
# break the other.
#   cmake -DSRC=<source folder> -P folders.cmake
cmake_minimum_required(VERSION 3.25)
get_filename_component(SRC "${SRC}" ABSOLUTE)
file(GLOB_RECURSE files RELATIVE ${SRC} ${SRC}/*.cpp ${SRC}/*.h)
set(folders "")
foreach(file IN LISTS files)
  # A folder is src's child; platform/linux and the like count on their own.
  string(REGEX MATCH "^(platform/[a-z]+/|[a-z]+/)" from "${file}")
  file(STRINGS ${SRC}/${file} includes REGEX "^#include \"[a-z]+/")
  foreach(line IN LISTS includes)
    string(REGEX MATCH "\"(platform/[a-z]+/|[a-z]+/)[A-Za-z]+\\.h\"" to "${line}")
    string(REGEX REPLACE "^\"([a-z/]+/)[A-Za-z]+\\.h\"$" "\\1" to "${to}")
    if(to AND NOT to STREQUAL from)
      string(MAKE_C_IDENTIFIER "${from}" id)
      list(APPEND edges_${id} ${to})
      list(APPEND folders ${from})
    endif()
  endforeach()
endforeach()
list(REMOVE_DUPLICATES folders)

# Every folder the start reaches; a circle is a folder that reaches itself.
foreach(start IN LISTS folders)
  string(MAKE_C_IDENTIFIER "${start}" id)
  set(todo ${edges_${id}})
  set(seen "")
  while(todo)
    list(POP_FRONT todo next)
    if(next STREQUAL start)
      message(SEND_ERROR "${start} includes a folder that includes it again (it reaches ${seen})")
      break()
    endif()
    if(NOT next IN_LIST seen)
      list(APPEND seen ${next})
      string(MAKE_C_IDENTIFIER "${next}" nid)
      list(APPEND todo ${edges_${nid}})
    endif()
  endwhile()
endforeach()
