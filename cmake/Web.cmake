# The page: the same core compiled to WebAssembly by emscripten, with the web
# platform layer in place of SDL and the page's own files beside it.
# Configured by `make web` (emcmake), which passes MORVANE_NATIVE_BUILD: the
# native build whose song_rows tool writes the rows the offline player reports.
set(MORVANE_NATIVE_BUILD "" CACHE PATH "The native build tree, for its song_rows tool")
set(MORVANE_WEB_MODULES "${CMAKE_SOURCE_DIR}/web/node_modules" CACHE PATH "The page's npm packages")
if(NOT MORVANE_NATIVE_BUILD)
  message(FATAL_ERROR "the page build needs MORVANE_NATIVE_BUILD (a native build tree); use `make web`")
endif()

# SSE2 intrinsics become WebAssembly SIMD through SIMDe. Only the SIMDe
# headers are taken from the system, not the rest of /usr/include.
add_compile_options(-msimd128)
add_compile_options(-include ${CMAKE_SOURCE_DIR}/src/platform/web/bit_cast.hpp)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/simde-include)
file(CREATE_LINK /usr/include/simde ${CMAKE_BINARY_DIR}/simde-include/simde SYMBOLIC)

add_library(morvane_core STATIC)
target_include_directories(morvane_core PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_include_directories(morvane_core SYSTEM PUBLIC ${CMAKE_BINARY_DIR}/simde-include)
include(cmake/Embed.cmake)
add_subdirectory(src/assets)
add_subdirectory(src/image)
add_subdirectory(src/engine)
add_subdirectory(src/content)
add_subdirectory(src/scenes)
target_sources(morvane_core PRIVATE
  src/driver/prepare.cpp
  src/driver/prepare_font.cpp
  src/driver/timeline.cpp
)
add_subdirectory(src/platform/web)

enable_testing()
add_subdirectory(tests/web)
