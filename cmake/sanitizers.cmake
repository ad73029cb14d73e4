# Sanitizer builds of the native target:
#   -DFACUP_SANITIZE=address  AddressSanitizer with UndefinedBehaviorSanitizer
#   -DFACUP_SANITIZE=thread   ThreadSanitizer
set(FACUP_SANITIZE "" CACHE STRING "Sanitizer build of the native target: address or thread")
set_property(CACHE FACUP_SANITIZE PROPERTY STRINGS "" address thread)

if(FACUP_SANITIZE)
  if(CMAKE_CROSSCOMPILING)
    message(FATAL_ERROR "FACUP_SANITIZE is for the native target only")
  endif()
  if(FACUP_SANITIZE STREQUAL "address")
    set(_facup_san_flags -fsanitize=address,undefined -fno-sanitize-recover=undefined)
  elseif(FACUP_SANITIZE STREQUAL "thread")
    set(_facup_san_flags -fsanitize=thread)
  else()
    message(FATAL_ERROR "FACUP_SANITIZE must be address or thread, not '${FACUP_SANITIZE}'")
  endif()
  add_compile_options(${_facup_san_flags} -fno-omit-frame-pointer -g)
  add_link_options(${_facup_san_flags})
endif()
