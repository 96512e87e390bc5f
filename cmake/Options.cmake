# Compile options shared by every target of the project.
set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)

add_compile_options(-Wall -Wextra)

if(WIN32)
    # Every Windows that runs these programs has SSE2; realigning the stack keeps vectorised
    # code safe in thread procedures and system callbacks, which get only 4-byte alignment.
    add_compile_options(-msse2 -mfpmath=sse -mstackrealign)
    add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0501 WINVER=0x0501)
    # Statically linked so that each .exe runs without the toolchain's DLLs.
    add_link_options(-static -static-libgcc -static-libstdc++)
    # Whoever finds zlib first fixes the cached choice: it must be the static library.
    set(ZLIB_USE_STATIC_LIBS ON)
else()
    option(SW_SANITIZE "Build the native targets with address and undefined-behaviour sanitizers" ON)
    if(SW_SANITIZE)
        add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer)
        add_link_options(-fsanitize=address,undefined)
    endif()
endif()
