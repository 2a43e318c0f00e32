# QV_SANITIZE: empty, "address" (ASan+UBSan) or "thread" (TSan).
set(QV_SANITIZE "" CACHE STRING "Sanitizer build: address or thread")
if(QV_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(QV_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

# The fuzz build instruments every library for coverage, so libFuzzer is guided through the
# parsers themselves and not only through the target's own file.
if(QV_BUILD_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
