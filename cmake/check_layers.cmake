# Fails when a source file includes a header from a folder that sits above its
# own in the layering, or beside it on the same level. Folders depend
# downwards only: a change in one folder can then break only the folders above.
#
#   cmake -DROOT=<checkout> -P cmake/check_layers.cmake
#
# The levels (a folder may include its own headers and those of lower levels):
#   0 util    1 edits, tools    2 probe    3 encode, subs, preview    4 cards
#   5 pipeline    6 front    7 server    8 cli
if(NOT ROOT)
  message(FATAL_ERROR "check_layers: pass -DROOT=<checkout>")
endif()

set(levels util 0 edits 1 tools 1 probe 2 encode 3 subs 3 preview 3 cards 4 pipeline 5 front 6 server 7 cli 8)
set(core_folders "")
list(LENGTH levels count)
math(EXPR last "${count} - 1")
foreach(i RANGE 0 ${last} 2)
  math(EXPR j "${i} + 1")
  list(GET levels ${i} folder)
  list(GET levels ${j} level)
  set(level_${folder} ${level})
  if(EXISTS "${ROOT}/core/src/${folder}")
    list(APPEND core_folders ${folder})
  endif()
endforeach()

# Every folder with its sources: core/src/<subsystem> and the three programs'.
set(sources "")
foreach(folder ${core_folders})
  set(dir_${folder} "${ROOT}/core/src/${folder}")
endforeach()
foreach(folder front server cli)
  set(dir_${folder} "${ROOT}/${folder}/src")
endforeach()

set(violations 0)
foreach(folder ${core_folders} front server cli)
  file(GLOB files "${dir_${folder}}/*.h" "${dir_${folder}}/*.cpp")
  foreach(file ${files})
    file(STRINGS "${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"[^\"]+\"")
    foreach(line ${includes})
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]+\"([^\"]+)\".*" "\\1" header "${line}")
      set(target "")
      if(header MATCHES "^([a-z]+)/")
        # "pipeline/plan.h": a core folder.
        set(target "${CMAKE_MATCH_1}")
      elseif(EXISTS "${dir_${folder}}/${header}")
        set(target "${folder}")
      else()
        # A header of one of the programs' folders, named without its folder.
        foreach(program front server cli)
          if(EXISTS "${dir_${program}}/${header}")
            set(target "${program}")
          endif()
        endforeach()
      endif()
      if(target STREQUAL "" OR target STREQUAL folder OR NOT DEFINED level_${target})
        continue()
      endif()
      if(NOT level_${target} LESS level_${folder})
        file(RELATIVE_PATH shown "${ROOT}" "${file}")
        message(SEND_ERROR "${shown}: includes \"${header}\": ${folder} (level ${level_${folder}}) may not depend on ${target} (level ${level_${target}})")
        math(EXPR violations "${violations} + 1")
      endif()
    endforeach()
  endforeach()
endforeach()

if(violations GREATER 0)
  message(FATAL_ERROR "check_layers: ${violations} include(s) point upwards or sideways")
endif()
message(STATUS "check_layers: every include points downwards")
