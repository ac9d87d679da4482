# Compiler settings shared by every target.
#
# The library's results must be the same bytes whatever the compiler does:
# no contraction of a*b+c into fused multiply-adds, no value-changing
# floating-point optimisations.
set(TARVOK_NUMERIC_FLAGS -ffp-contract=off -fno-fast-math)

# -Wno-psabi: the inline vector helpers of the hot loops pass GCC vector
# types by value; they never cross a library boundary, so the ABI note is moot.
set(TARVOK_WARNING_FLAGS -Wall -Wextra -Wshadow $<$<CXX_COMPILER_ID:GNU>:-Wno-psabi>)
if(TARVOK_WERROR)
  list(APPEND TARVOK_WARNING_FLAGS -Werror)
endif()

add_compile_options(${TARVOK_NUMERIC_FLAGS})

# ThreadSanitizer: an instrumented processor-version resolver would run
# before the sanitizer starts, so the vector clones are left out.
if(TARVOK_SANITIZE_THREAD)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_compile_definitions(TARVOK_NO_CLONES)
  add_link_options(-fsanitize=thread)
endif()

if(TARVOK_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# A fuzz build instruments every object, not only the fuzz targets: the
# libraries a target links report their branches to libFuzzer (so it is not
# fuzzing blind) and carry the sanitizers. The targets add -fsanitize=fuzzer
# to bring in libFuzzer's main.
if(TARVOK_BUILD_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# tarvok_warnings(target): strict warnings for our own code only.
function(tarvok_warnings target)
  target_compile_options(${target} PRIVATE ${TARVOK_WARNING_FLAGS})
endfunction()
