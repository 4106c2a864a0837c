# KHA_SANITIZE=address,undefined (or thread) instruments every target.
if(KHA_SANITIZE)
  add_compile_options(-fsanitize=${KHA_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${KHA_SANITIZE})
endif()
