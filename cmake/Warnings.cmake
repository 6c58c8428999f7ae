# Our own targets build with all warnings; the project's test and CI builds (scripts/test turns
# MARROWFIN_WERROR on) make them errors. Users' and packagers' builds do not: a compiler's false
# positive (GCC 12 at -O3 warns -Wrestrict inside std::string) must not break a Release build.
function(marrowfin_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(MARROWFIN_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# The engine's arithmetic order and precision are part of its behaviour: no fused multiply-add,
# no fast-math, so results are bit-identical from build to build.
add_compile_options(-ffp-contract=off -fno-fast-math)

if(MARROWFIN_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
if(MARROWFIN_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

# scripts/fuzz: clang's libFuzzer coverage on everything we build; the fuzz targets link it.
option(MARROWFIN_FUZZ "Build the fuzz targets for libFuzzer (clang only)" OFF)
if(MARROWFIN_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
