# The build runs asset_header to make the headers it compiles. A native build runs its own target;
# a cross build first builds a copy for the build machine from the same sources.
include(ExternalProject)

if(CMAKE_CROSSCOMPILING AND NOT FACUP_HOST_TOOLS_ONLY)
  set(_host_dir ${CMAKE_BINARY_DIR}/host-tools)
  ExternalProject_Add(facup_host_tools
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${_host_dir}
    CMAKE_ARGS -DFACUP_HOST_TOOLS_ONLY=ON -DCMAKE_BUILD_TYPE=Release -DFACUP_WERROR=${FACUP_WERROR}
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    BUILD_BYPRODUCTS ${_host_dir}/bin/asset_header)
  set(FACUP_ASSET_HEADER ${_host_dir}/bin/asset_header)
  set(FACUP_ASSET_HEADER_DEPENDS facup_host_tools ${_host_dir}/bin/asset_header)
else()
  set(FACUP_ASSET_HEADER $<TARGET_FILE:asset_header>)
  set(FACUP_ASSET_HEADER_DEPENDS asset_header)
endif()

# facup_generate_header(<output> <mode> <args>... [DEPENDS <files>...])
# Runs the generator at build time: mode firmware, utility or stub, with that mode's arguments
# (the output path is added last).
function(facup_generate_header output mode)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "DEPENDS")
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${FACUP_ASSET_HEADER} ${mode} ${arg_UNPARSED_ARGUMENTS} ${output}
    DEPENDS ${FACUP_ASSET_HEADER_DEPENDS} ${arg_DEPENDS}
    COMMENT "Generating ${output} (${mode})"
    VERBATIM)
endfunction()
