# The layers of the build: kernels <- wavelet <- engine <- front ends (the plug-in, the
# command-line tools), with test code on top. Each target sees the folders of its own layer and
# of the layers it builds on, and nothing else: its include path is a private folder of links
# to exactly those folders, so that including a higher layer's header fails to compile.
#
#   velmora_layer(TARGET FOLDERS folder... USES target...)
#
# FOLDERS are the target's own source folders (relative to the project), USES the targets it
# builds on; it links them and sees their folders too.
function(velmora_layer target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "FOLDERS;USES")
  set(folders ${arg_FOLDERS})
  foreach(used IN LISTS arg_USES)
    if(TARGET ${used})
      get_target_property(seen ${used} VELMORA_FOLDERS)
      if(seen)
        list(APPEND folders ${seen})
      endif()
    endif()
  endforeach()
  list(REMOVE_DUPLICATES folders)
  set_property(TARGET ${target} PROPERTY VELMORA_FOLDERS ${folders})

  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_link_libraries(${target} INTERFACE ${arg_USES})
    return()
  endif()
  set(root ${CMAKE_BINARY_DIR}/layers/${target})
  file(REMOVE_RECURSE ${root})
  foreach(folder IN LISTS folders)
    get_filename_component(parent ${root}/${folder} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endforeach()
  target_include_directories(${target} PRIVATE ${root})
  target_link_libraries(${target} PUBLIC ${arg_USES})
endfunction()
