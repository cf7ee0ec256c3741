# One static library per layer of src/, each seeing only the layers below it.
#
# zibbet_layer(NAME [USES LAYER...]) makes zibbet_NAME from src/NAME/*.cpp.
# Its include path is a folder of the build tree that holds links to
# src/NAME and to the folders of the layers it uses, nothing else; the
# layers it links bring their own. A header of a layer above is not on the
# path at all, so an include that goes up fails to compile.
function(zibbet_layer name)
  cmake_parse_arguments(LAYER "" "" "USES" ${ARGN})
  set(view ${CMAKE_BINARY_DIR}/layers/${name})
  file(REMOVE_RECURSE ${view})
  file(MAKE_DIRECTORY ${view})
  foreach(layer IN ITEMS ${name} ${LAYER_USES})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${layer} ${view}/${layer} SYMBOLIC)
  endforeach()
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${name}/*.cpp)
  list(REMOVE_ITEM sources ${PROJECT_SOURCE_DIR}/src/driver/main.cpp)
  if(sources)
    add_library(zibbet_${name} STATIC ${sources})
    target_include_directories(zibbet_${name} PUBLIC ${view})
    target_compile_options(zibbet_${name} PRIVATE -Wconversion)
    set(scope PUBLIC)
  else()
    add_library(zibbet_${name} INTERFACE)
    target_include_directories(zibbet_${name} INTERFACE ${view})
    set(scope INTERFACE)
  endif()
  target_link_libraries(zibbet_${name} ${scope} zibbet_warnings)
  foreach(layer IN LISTS LAYER_USES)
    target_link_libraries(zibbet_${name} ${scope} zibbet_${layer})
  endforeach()
endfunction()
