# One interface target carries warnings, sanitizers and defines; every target links it.
add_library(parlwick_flags INTERFACE)
add_library(Parlwick::Flags ALIAS parlwick_flags)

# Which sanitizers the build carries: OFF, address (with UndefinedBehaviorSanitizer) or thread.
# ON is taken as address, as it always was.
set(PARLWICK_SANITIZE OFF CACHE STRING "Sanitizers to build with: OFF, address or thread")
set_property(CACHE PARLWICK_SANITIZE PROPERTY STRINGS OFF address thread)
option(PARLWICK_WARNINGS_AS_ERRORS "Fail the build on any compiler warning" OFF)

target_compile_options(parlwick_flags INTERFACE -Wall -Wextra -Wpedantic)
if(PARLWICK_WARNINGS_AS_ERRORS)
  target_compile_options(parlwick_flags INTERFACE -Werror)
endif()

string(TOLOWER "${PARLWICK_SANITIZE}" parlwick_sanitize)
if(parlwick_sanitize STREQUAL "thread")
  target_compile_options(parlwick_flags INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(parlwick_flags INTERFACE -fsanitize=thread)
elseif(parlwick_sanitize MATCHES "^(address|on|yes|true|1)$")
  target_compile_options(parlwick_flags INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(parlwick_flags INTERFACE -fsanitize=address,undefined)
elseif(NOT parlwick_sanitize MATCHES "^(off|no|false|0|)$")
  message(FATAL_ERROR "PARLWICK_SANITIZE is ${PARLWICK_SANITIZE}: use OFF, address or thread")
endif()
