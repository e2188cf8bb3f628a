# Shared warning flags; every target links parlo_warnings.
add_library(parlo_warnings INTERFACE)
target_compile_options(parlo_warnings INTERFACE
  -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Wpointer-arith -Wformat=2 -Wno-unused-parameter)
# gcc 12 reports impossible overlaps in std::string's inlined copies at -O3 (a known false
# positive of its -Wrestrict); the check is left to other compilers.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(parlo_warnings INTERFACE -Wno-restrict)
endif()
if(PARLO_WERROR)
  target_compile_options(parlo_warnings INTERFACE -Werror)
endif()
