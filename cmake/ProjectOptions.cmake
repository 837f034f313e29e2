# One interface target carries the language level, warnings and the sanitizer
# switch for every target of the project.
add_library(vrk_options INTERFACE)
target_compile_features(vrk_options INTERFACE cxx_std_20)
target_compile_options(vrk_options INTERFACE -Wall -Wextra $<$<BOOL:${VRK_WERROR}>:-Werror>)
target_compile_definitions(vrk_options INTERFACE
  $<$<CONFIG:Debug>:_GLIBCXX_ASSERTIONS>)
if(VRK_SANITIZE)
  target_compile_options(vrk_options INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(vrk_options INTERFACE -fsanitize=address,undefined)
endif()

# vrk_fuzz_coverage(<library>): in a fuzz build (VRK_FUZZ) the library
# reports its coverage to libFuzzer. Each library's own folder asks for it,
# so no folder changes the compile flags of another.
function(vrk_fuzz_coverage target)
  if(VRK_FUZZ)
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link)
  endif()
endfunction()
