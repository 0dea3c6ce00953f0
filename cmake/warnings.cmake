# The project's one warning setting, for every target defined after this file is included: the
# launcher's library, the signature code, the tools, the tests, the benchmarks and the fuzz
# targets. MSVC has its own words for the same levels: GCC's flags would reach it as /Wall.
option(VESTRAHAL_WERROR "Make every warning an error" OFF)
if(MSVC)
    add_compile_options(/W4)
    if(VESTRAHAL_WERROR)
        add_compile_options(/WX)
    endif()
else()
    add_compile_options(-Wall -Wextra)
    if(VESTRAHAL_WERROR)
        add_compile_options(-Werror)
    endif()
endif()
