# Shared build settings: warnings, sanitizers, FFmpeg headers and the rule that
# product code never links the FFmpeg libraries (it binds them at run time).

find_package(PkgConfig REQUIRED)
pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET
  libavcodec libavformat libavutil libswscale libswresample libavfilter)

# Headers only: product libraries see the declarations but get no link flags.
add_library(ffmpeg_headers INTERFACE)
target_include_directories(ffmpeg_headers SYSTEM INTERFACE ${FFMPEG_INCLUDE_DIRS})
target_compile_definitions(ffmpeg_headers INTERFACE __STDC_CONSTANT_MACROS)

if(QUILLON_FUZZ)
  # Everything carries the fuzzer's coverage hooks and the address and
  # undefined-behaviour checks; only the fuzz targets link the fuzzer's main.
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "QUILLON_FUZZ needs clang: -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++")
  endif()
  set(QUILLON_SANITIZE "address")
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

if(QUILLON_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(QUILLON_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

# Warnings as errors for our own code only.
function(quillon_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -Wno-deprecated-declarations)
endfunction()

# A product shared library: our warnings, and every symbol must resolve at link
# time, so a direct call of an FFmpeg export (instead of the bound pointer)
# fails to link.
function(quillon_product_library target)
  add_library(${target} SHARED ${ARGN})
  quillon_warnings(${target})
  if(NOT QUILLON_SANITIZE)
    target_link_options(${target} PRIVATE -Wl,--no-undefined)
  endif()
endfunction()
