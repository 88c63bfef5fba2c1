# Fails when a file of the core includes a header from a layer above its own.
# The layers, lowest first: base, formats, dsp, vm, driver. A file may include
# headers of its own layer and of the layers below; nothing in the core may
# include a companion tool's header.
#   cmake -DROOT=<source dir> -P check_layers.cmake
set(LAYERS base formats dsp vm driver)

file(GLOB_RECURSE sources RELATIVE ${ROOT}/src ${ROOT}/src/*.h ${ROOT}/src/*.cpp)
set(violations "")
foreach(source ${sources})
  string(REGEX MATCH "^[^/]+" own_layer ${source})
  list(FIND LAYERS ${own_layer} own_rank)
  if(own_rank EQUAL -1)
    continue()  # not a layer folder (the build files)
  endif()
  file(STRINGS ${ROOT}/src/${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line ${includes})
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*" "\\1" header "${line}")
    string(REGEX MATCH "^[^/]+" header_layer "${header}")
    list(FIND LAYERS "${header_layer}" header_rank)
    if(header_rank EQUAL -1)
      list(APPEND violations "src/${source}: includes \"${header}\", which is not a core header")
    elseif(header_rank GREATER own_rank)
      list(APPEND violations "src/${source}: layer ${own_layer} includes \"${header}\" from the layer above, ${header_layer}")
    endif()
  endforeach()
endforeach()

if(violations)
  list(JOIN violations "\n  " text)
  message(FATAL_ERROR "includes against the layer order:\n  ${text}")
endif()
list(LENGTH sources count)
message(STATUS "${count} core files include downward only")
