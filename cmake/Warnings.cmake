option(VEK_WERROR "Treat compiler warnings as errors" OFF)
option(VEK_SANITIZE "Build with address and undefined-behaviour sanitizers" OFF)

add_library(vek_warnings INTERFACE)
target_compile_options(vek_warnings INTERFACE -Wall -Wextra $<$<BOOL:${VEK_WERROR}>:-Werror>)

if(VEK_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()
