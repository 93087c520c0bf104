# corvane_layer(<name> DIRS <dir>... [EXTRA <source>...] LINKS <library>...
#               [FORBID <header>...])
#
# Makes the static library corvane_<name> from every .cpp under src/<dir>, linked to LINKS and
# nothing else. Beside it, corvane_layer_check_<name> links all of that library's objects (not
# only the ones some program happens to use) into an empty program with the same LINKS, so a
# layer that calls into a layer it does not list fails to build. FORBID names headers of the
# layers it links that its files may still not include (the status and language texts, for
# a layer that speaks no user's vocabulary); including one fails the build.
function(corvane_layer name)
  cmake_parse_arguments(PARSE_ARGV 1 layer "" "" "DIRS;EXTRA;LINKS;FORBID")
  set(sources)
  set(files)
  foreach(dir IN LISTS layer_DIRS)
    file(GLOB_RECURSE dir_sources CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/src/${dir}/*.cpp")
    file(GLOB_RECURSE dir_files CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/src/${dir}/*.cpp"
      "${CMAKE_SOURCE_DIR}/src/${dir}/*.h" "${CMAKE_SOURCE_DIR}/src/${dir}/*.inc")
    list(APPEND sources ${dir_sources})
    list(APPEND files ${dir_files})
  endforeach()
  add_library(corvane_${name} STATIC ${sources} ${layer_EXTRA})
  target_include_directories(corvane_${name} PUBLIC "${CMAKE_SOURCE_DIR}/src")
  target_link_libraries(corvane_${name} PUBLIC ${layer_LINKS})

  add_executable(corvane_layer_check_${name} "${CMAKE_SOURCE_DIR}/cmake/layer_check_main.cpp")
  target_link_libraries(corvane_layer_check_${name} PRIVATE
    "$<LINK_LIBRARY:WHOLE_ARCHIVE,corvane_${name}>")
  target_link_options(corvane_layer_check_${name} PRIVATE -Wl,--no-undefined)

  if(layer_FORBID)
    set(stamp "${CMAKE_BINARY_DIR}/layer_includes_${name}.stamp")
    # Lists travel "|"-separated: a ";" would split the command's arguments.
    string(REPLACE ";" "|" file_list "${files}")
    string(REPLACE ";" "|" forbid_list "${layer_FORBID}")
    add_custom_command(OUTPUT "${stamp}"
      COMMAND "${CMAKE_COMMAND}" "-DFILES=${file_list}" "-DFORBID=${forbid_list}" "-DSTAMP=${stamp}"
              -P "${CMAKE_SOURCE_DIR}/cmake/CheckLayerIncludes.cmake"
      DEPENDS ${files} "${CMAKE_SOURCE_DIR}/cmake/CheckLayerIncludes.cmake"
      COMMENT "Checking the includes of the ${name} layer" VERBATIM)
    add_custom_target(corvane_layer_includes_${name} ALL DEPENDS "${stamp}")
    add_dependencies(corvane_${name} corvane_layer_includes_${name})
  endif()
endfunction()
