# corvane_layer(<name> DIRS <dir>... [EXTRA <source>...] LINKS <library>...)
#
# Makes the static library corvane_<name> from every .cpp under src/<dir>, linked to LINKS and
# nothing else. Beside it, corvane_layer_check_<name> links all of that library's objects (not
# only the ones some program happens to use) into an empty program with the same LINKS, so a
# layer that calls into a layer it does not list fails to build.
function(corvane_layer name)
  cmake_parse_arguments(PARSE_ARGV 1 layer "" "" "DIRS;EXTRA;LINKS")
  set(sources)
  foreach(dir IN LISTS layer_DIRS)
    file(GLOB_RECURSE dir_sources CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/src/${dir}/*.cpp")
    list(APPEND sources ${dir_sources})
  endforeach()
  add_library(corvane_${name} STATIC ${sources} ${layer_EXTRA})
  target_include_directories(corvane_${name} PUBLIC "${CMAKE_SOURCE_DIR}/src")
  target_link_libraries(corvane_${name} PUBLIC ${layer_LINKS})

  add_executable(corvane_layer_check_${name} "${CMAKE_SOURCE_DIR}/cmake/layer_check_main.cpp")
  target_link_libraries(corvane_layer_check_${name} PRIVATE
    "$<LINK_LIBRARY:WHOLE_ARCHIVE,corvane_${name}>")
  target_link_options(corvane_layer_check_${name} PRIVATE -Wl,--no-undefined)
endfunction()
