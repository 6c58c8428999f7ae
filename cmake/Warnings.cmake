# Our own targets build with warnings as errors; DSP sources also with exact float contraction rules.
function(marrowfin_target target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()

# The engine's arithmetic order and precision are part of its behaviour: no fused multiply-add,
# no fast-math, so results are bit-identical from build to build.
add_compile_options(-ffp-contract=off -fno-fast-math)

function(marrowfin_dsp_sources)
  set_source_files_properties(${ARGV} PROPERTIES COMPILE_OPTIONS "-ffp-contract=off;-fno-fast-math")
endfunction()

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
