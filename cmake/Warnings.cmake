# Shared warning flags; every target links parlo_warnings.
add_library(parlo_warnings INTERFACE)
target_compile_options(parlo_warnings INTERFACE
  -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Wpointer-arith -Wformat=2 -Wno-unused-parameter)
if(PARLO_WERROR)
  target_compile_options(parlo_warnings INTERFACE -Werror)
endif()
