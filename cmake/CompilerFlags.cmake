# One interface target carries warnings, sanitizers and defines; every target links it.
add_library(parlwick_flags INTERFACE)
add_library(Parlwick::Flags ALIAS parlwick_flags)

target_compile_options(parlwick_flags INTERFACE -Wall -Wextra -Wpedantic)

if(PARLWICK_SANITIZE)
  target_compile_options(parlwick_flags INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(parlwick_flags INTERFACE -fsanitize=address,undefined)
endif()
