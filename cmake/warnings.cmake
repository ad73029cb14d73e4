# Warning set for the project's own targets; FACUP_WERROR turns them into errors (scripts/test sets it).
option(FACUP_WERROR "Treat warnings of the project's own code as errors" OFF)

function(facup_warnings target)
  # -Wswitch (also part of -Wall) names an enumerator that a switch without a default leaves out:
  # the texts of the result and fault codes rely on it, on both targets.
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wswitch -Wshadow -Wformat=2 -Wundef -Wconversion
                         -Wsign-conversion)
  # Sanitizer instrumentation makes GCC report uninitialised members inside the standard library's
  # own std::regex and std::function code; those reports say nothing about this project's code.
  if(FACUP_SANITIZE AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE -Wno-maybe-uninitialized)
  endif()
  if(FACUP_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
