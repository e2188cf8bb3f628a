# Include paths follow the layers: a library sees its own folder and those of the libraries it
# links, no others. Each library's folder is reached through a link under the build folder
# (layers/<library>/<folder> -> the source folder), so an include that reaches into a layer the
# library does not link fails to compile. Tests, benchmarks and fuzz targets see the whole tree.
function(parlo_layer target folder)
  set(root ${CMAKE_BINARY_DIR}/layers/${target})
  set(link ${root}/${folder})
  get_filename_component(parent ${link} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  if(NOT IS_SYMLINK ${link})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${link} SYMBOLIC)
  endif()
  target_include_directories(${target} PUBLIC ${root})
endfunction()
