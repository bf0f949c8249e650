# The textures round every float and double operation to its own type. A
# target that evaluates them in extended precision (FLT_EVAL_METHOD other
# than 0: x87 arithmetic on 32-bit x86) gives other bits, so 32-bit x86 is
# built with SSE2 arithmetic, and any target where that cannot be had is
# refused.
include(CheckCXXSourceCompiles)

set(exact_float_source [=[
#include <cfloat>
#if !defined(FLT_EVAL_METHOD) || FLT_EVAL_METHOD != 0
#error "float arithmetic is evaluated in a wider type"
#endif
int main() { return 0; }
]=])

check_cxx_source_compiles("${exact_float_source}" TEXTURES_EXACT_FLOAT)
if(NOT TEXTURES_EXACT_FLOAT AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(i.86|x86|x86_64|AMD64|amd64)$")
  set(CMAKE_REQUIRED_FLAGS "-msse2 -mfpmath=sse")
  check_cxx_source_compiles("${exact_float_source}" TEXTURES_EXACT_FLOAT_WITH_SSE2)
  unset(CMAKE_REQUIRED_FLAGS)
  if(TEXTURES_EXACT_FLOAT_WITH_SSE2)
    message(STATUS "32-bit x86: float arithmetic in SSE2 (-msse2 -mfpmath=sse)")
    add_compile_options(-msse2 -mfpmath=sse)
    set(TEXTURES_EXACT_FLOAT ON)
  endif()
endif()
if(NOT TEXTURES_EXACT_FLOAT)
  message(FATAL_ERROR
    "This target evaluates float arithmetic in extended precision (FLT_EVAL_METHOD "
    "is not 0, as with x87 floating point), which changes the textures' results. "
    "Build for a processor with SSE2 (on 32-bit x86: -msse2 -mfpmath=sse) or for "
    "another target whose float and double operations round to their own type.")
endif()
