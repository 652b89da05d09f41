# Warnings are errors in our own code. Third-party headers come in as SYSTEM includes
# through their imported targets, so they do not trip these.
add_library(quillmark_warnings INTERFACE)
target_compile_options(quillmark_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
  -Wcast-align -Woverloaded-virtual -Werror)
