# Sanitizer builds apply to everything we compile and link, so that instrumented and
# uninstrumented code of ours never mix.
if(QUILLMARK_SANITIZE STREQUAL "address-undefined")
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(QUILLMARK_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT QUILLMARK_SANITIZE STREQUAL "")
  message(FATAL_ERROR "QUILLMARK_SANITIZE must be empty, address-undefined or thread")
endif()
