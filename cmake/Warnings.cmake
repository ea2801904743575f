# Warnings are errors in our own code: the 32-bit release must build warning-free.
add_library(korvane_warnings INTERFACE)
target_compile_options(korvane_warnings INTERFACE -Wall -Wextra -Werror)

if(WIN32)
  # Static runtime: the executable and the filter DLL run on a bare Windows or Wine.
  add_compile_definitions(WINVER=0x0601 _WIN32_WINNT=0x0601 _WIN32_IE=0x0800 NOMINMAX STRICT)
  add_link_options(-static -static-libgcc -static-libstdc++)
endif()
