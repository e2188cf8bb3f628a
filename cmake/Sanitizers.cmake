if(PARLO_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(PARLO_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
  # Asio's fences are standalone atomic_thread_fence calls, which gcc warns it cannot instrument;
  # the races they order are still seen through the atomics around them.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options(-Wno-tsan)
  endif()
elseif(NOT PARLO_SANITIZE STREQUAL "")
  message(FATAL_ERROR "PARLO_SANITIZE must be empty, 'address' or 'thread'")
endif()
