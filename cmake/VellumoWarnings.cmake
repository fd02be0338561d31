# Warning level and platform definitions shared by all of the project's targets.
add_library(vellumo_settings INTERFACE)
target_compile_options(vellumo_settings INTERFACE
  -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual -Wcast-align
  -Wformat=2 -Wundef -Wno-unknown-pragmas
  $<$<COMPILE_LANGUAGE:CXX>:-Wold-style-cast -Wno-cast-function-type>)
target_compile_definitions(vellumo_settings INTERFACE
  _WIN32_WINNT=0x0601 WINVER=0x0601 NOMINMAX STRICT)
