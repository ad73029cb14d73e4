# The Windows version resource (and, for the tool, its manifest), compiled by windres into the
# program. The numbers come from the project's version, the one the tool's banner and run record
# also show, so that the three never disagree.
set(FACUP_VERSION_QUAD "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0")
string(REPLACE "." "," FACUP_VERSION_BINARY "${FACUP_VERSION_QUAD}")

# facup_windows_resources(<target> DESCRIPTION <text> [MANIFEST <file.in>]): on Windows, gives the
# program a version resource with the description as FileDescription and <output name>.exe as
# OriginalFilename, and the manifest (configured with the version) as resource 24, id 1.
function(facup_windows_resources target)
  if(NOT WIN32)
    return()
  endif()
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "DESCRIPTION;MANIFEST" "")
  set(_dir ${CMAKE_CURRENT_BINARY_DIR}/generated)
  set(FACUP_RC_DESCRIPTION "${arg_DESCRIPTION}")
  set(FACUP_RC_FILENAME "${target}.exe")
  set(FACUP_RC_MANIFEST "")
  if(arg_MANIFEST)
    configure_file(${arg_MANIFEST} ${_dir}/${target}.exe.manifest @ONLY)
    set(FACUP_RC_MANIFEST "1 24 \"${_dir}/${target}.exe.manifest\"")
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${_dir}/${target}_version.rc @ONLY)
  target_sources(${target} PRIVATE ${_dir}/${target}_version.rc)
endfunction()
