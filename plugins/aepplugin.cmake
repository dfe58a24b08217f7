# marlix_add_aep(<target> OUTPUT_NAME <name> DIRECTORY <folder> SOURCES <files...> [DEFINITIONS <defs...>])
# Builds an effect plug-in <folder>/<name>.aep. Only the aep.h exports are visible, and
# -fno-gnu-unique keeps gcc from binding "unique" symbols across libraries, so private
# copies of one plug-in loaded side by side share nothing.
function(marlix_add_aep target)
  cmake_parse_arguments(ARG "" "OUTPUT_NAME;DIRECTORY" "SOURCES;DEFINITIONS" ${ARGN})
  add_library(${target} MODULE ${ARG_SOURCES})
  set_target_properties(${target} PROPERTIES PREFIX "" SUFFIX ".aep" OUTPUT_NAME ${ARG_OUTPUT_NAME}
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON LIBRARY_OUTPUT_DIRECTORY ${ARG_DIRECTORY})
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_definitions(${target} PRIVATE ${ARG_DEFINITIONS})
  target_compile_options(${target} PRIVATE $<$<CXX_COMPILER_ID:GNU>:-fno-gnu-unique>)
  target_link_libraries(${target} PRIVATE marlix_warnings)
endfunction()
