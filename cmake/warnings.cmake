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

# Built by MinGW-w64 (the Windows half run under Wine), the code must still build with MSVC, the
# Windows build players get: the POSIX headers that MinGW-w64 brings and MSVC lacks are errors
# here, and so is what -Wpedantic finds. tools/check-windows.sh then leaves these files to this
# build.
if(MINGW)
    add_compile_options(-Wpedantic)
    set(msvc_lacks ${CMAKE_BINARY_DIR}/msvc-lacks)
    include(${CMAKE_CURRENT_LIST_DIR}/msvc-lacks.cmake)
    include_directories(BEFORE ${msvc_lacks})
endif()
