option(ILVARC_SANITIZE "Build with AddressSanitizer and UBSan" OFF)
if(ILVARC_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=all)
    add_link_options(-fsanitize=address,undefined)
endif()
