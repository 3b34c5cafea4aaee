# Fuzz targets: address and undefined-behaviour sanitizers where the
# toolchain has them; with libFuzzer the test runs for a bounded time over a
# corpus, elsewhere (GCC, MinGW) a random-input driver feeds a bounded number
# of inputs to the same entry point.
#
#   blinkwerk_fuzz_target(TARGET name TEST testname SECONDS n DRIVER file
#                         [CORPUS dir] SOURCES src...)
include_guard(GLOBAL)
include(CheckCXXSourceCompiles)

set(CMAKE_REQUIRED_FLAGS -fsanitize=address,undefined)
set(CMAKE_REQUIRED_LINK_OPTIONS -fsanitize=address,undefined)
check_cxx_source_compiles("int main() { return 0; }" BLINKWERK_HAVE_SANITIZERS)
set(CMAKE_REQUIRED_FLAGS -fsanitize=fuzzer)
set(CMAKE_REQUIRED_LINK_OPTIONS -fsanitize=fuzzer)
check_cxx_source_compiles([[
  #include <cstddef>
  #include <cstdint>
  extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *, std::size_t) { return 0; }
]] BLINKWERK_HAVE_LIBFUZZER)
unset(CMAKE_REQUIRED_FLAGS)
unset(CMAKE_REQUIRED_LINK_OPTIONS)

function(blinkwerk_fuzz_target)
  cmake_parse_arguments(FUZZ "" "TARGET;TEST;SECONDS;DRIVER;CORPUS" "SOURCES" ${ARGN})
  set(options)
  if(BLINKWERK_HAVE_SANITIZERS)
    set(options -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  endif()
  if(BLINKWERK_HAVE_LIBFUZZER)
    add_executable(${FUZZ_TARGET} ${FUZZ_SOURCES})
    list(APPEND options -fsanitize=fuzzer)
    set(corpus)
    if(FUZZ_CORPUS)
      # New inputs go to the build tree; the checked-in corpus is only read.
      file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/${FUZZ_TARGET}-corpus)
      set(corpus ${CMAKE_CURRENT_BINARY_DIR}/${FUZZ_TARGET}-corpus ${FUZZ_CORPUS})
    endif()
    add_test(NAME ${FUZZ_TEST}
             COMMAND ${FUZZ_TARGET} -max_total_time=${FUZZ_SECONDS} -seed=1 -rss_limit_mb=2048
                     -print_final_stats=1 ${corpus})
  else()
    add_executable(${FUZZ_TARGET} ${FUZZ_SOURCES} ${FUZZ_DRIVER})
    add_test(NAME ${FUZZ_TEST} COMMAND ${FUZZ_TARGET})
  endif()
  target_compile_options(${FUZZ_TARGET} PRIVATE ${options})
  target_link_options(${FUZZ_TARGET} PRIVATE ${options})
endfunction()
