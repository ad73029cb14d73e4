# The build runs asset_header to make the headers it compiles, and md5_file to write the carried
# image's digest into one. A native build runs its own targets; a cross build first builds copies
# for the build machine from the same sources.
include(ExternalProject)

if(CMAKE_CROSSCOMPILING AND NOT FACUP_HOST_TOOLS_ONLY)
  set(_host_dir ${CMAKE_BINARY_DIR}/host-tools)
  ExternalProject_Add(facup_host_tools
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${_host_dir}
    CMAKE_ARGS -DFACUP_HOST_TOOLS_ONLY=ON -DCMAKE_BUILD_TYPE=Release -DFACUP_WERROR=${FACUP_WERROR}
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    BUILD_BYPRODUCTS ${_host_dir}/bin/asset_header ${_host_dir}/bin/md5_file)
  set(FACUP_ASSET_HEADER ${_host_dir}/bin/asset_header)
  set(FACUP_ASSET_HEADER_DEPENDS facup_host_tools ${_host_dir}/bin/asset_header)
  set(FACUP_MD5_FILE ${_host_dir}/bin/md5_file)
  set(FACUP_MD5_FILE_DEPENDS facup_host_tools ${_host_dir}/bin/md5_file)
else()
  set(FACUP_ASSET_HEADER $<TARGET_FILE:asset_header>)
  set(FACUP_ASSET_HEADER_DEPENDS asset_header)
  set(FACUP_MD5_FILE $<TARGET_FILE:md5_file>)
  set(FACUP_MD5_FILE_DEPENDS md5_file)
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
