# The layers of the build: kernels <- wavelet <- engine <- the library (lib/, its public header
# include/velmora) <- front ends (the command-line tools, the frei0r filter), the plug-in on the
# engine, with test code on top. A front end uses velmora_api, which shows it the public header
# alone. Each target sees the folders of its own layer and
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
    # Public headers are seen as they are installed: include/velmora as velmora.
    string(REGEX REPLACE "^include/" "" at ${folder})
    get_filename_component(parent ${root}/${at} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${at} SYMBOLIC)
  endforeach()
  target_include_directories(${target} PRIVATE ${root})
  target_link_libraries(${target} PUBLIC ${arg_USES})
endfunction()
