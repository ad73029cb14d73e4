# Signing of the Windows programs with the maker's code-signing certificate (Authenticode, SHA-256,
# by osslsigncode): Shttpd.exe before the tool embeds it, facup.exe once it is linked. Without
# FACUP_SIGN_PKCS12 nothing is signed and nothing changes.
set(FACUP_SIGN_PKCS12 "" CACHE FILEPATH "PKCS#12 file with the code-signing certificate and its key; empty: no signing")
set(FACUP_SIGN_PASSWORD_FILE "" CACHE FILEPATH "File whose first line is the PKCS#12 file's password")
set(FACUP_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamp server for the signatures; empty: none")

if(FACUP_SIGN_PKCS12)
  if(NOT WIN32)
    message(FATAL_ERROR "FACUP_SIGN_PKCS12 signs the Windows programs: give it to the Windows build")
  endif()
  foreach(_file FACUP_SIGN_PKCS12 FACUP_SIGN_PASSWORD_FILE)
    if(NOT EXISTS "${${_file}}")
      message(FATAL_ERROR "${_file} (${${_file}}) does not exist")
    endif()
  endforeach()
  find_program(FACUP_OSSLSIGNCODE osslsigncode REQUIRED)
endif()

# facup_sign(<target>): signs the target's program after it is built (after its other post-build
# steps), in place.
function(facup_sign target)
  if(NOT FACUP_SIGN_PKCS12)
    return()
  endif()
  set(_timestamp "")
  if(FACUP_SIGN_TIMESTAMP_URL)
    set(_timestamp -ts ${FACUP_SIGN_TIMESTAMP_URL})
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${FACUP_OSSLSIGNCODE} sign -pkcs12 ${FACUP_SIGN_PKCS12} -readpass ${FACUP_SIGN_PASSWORD_FILE} -h sha256
            ${_timestamp} -in $<TARGET_FILE:${target}> -out $<TARGET_FILE:${target}>.signed
    COMMAND ${CMAKE_COMMAND} -E rename $<TARGET_FILE:${target}>.signed $<TARGET_FILE:${target}>
    COMMENT "Signing ${target}"
    VERBATIM)
endfunction()
