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

# Fuzzing build, in a build tree of its own with clang:
#   cmake -B build-fuzz -DFACUP_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
# Every target gets libFuzzer's coverage instrumentation together with AddressSanitizer and
# UndefinedBehaviorSanitizer; the targets of fuzz/ link libFuzzer's own main.
option(FACUP_FUZZ "Build the libFuzzer targets of fuzz/ (clang only)" OFF)
if(FACUP_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang" OR CMAKE_CROSSCOMPILING)
    message(FATAL_ERROR "FACUP_FUZZ needs the native clang (-DCMAKE_CXX_COMPILER=clang++)")
  endif()
  if(FACUP_SANITIZE)
    message(FATAL_ERROR "FACUP_FUZZ brings its own sanitizers; leave FACUP_SANITIZE empty")
  endif()
  set(_facup_fuzz_flags -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined)
  add_compile_options(${_facup_fuzz_flags} -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=address,undefined)
endif()
