# Warnings and sanitizers shared by every target of the project.

add_library(orbel_warnings INTERFACE)
target_compile_options(orbel_warnings INTERFACE -Wall -Wextra)

# The sanitizer builds keep line tables only (-g1, after the build type's -g): their reports
# name functions, files and lines, and the full debug information would cost a quarter of
# their compile time.
if(ORBEL_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined -g1)
  add_link_options(-fsanitize=address,undefined)
elseif(ORBEL_SANITIZE STREQUAL "thread")
  # asio uses std::atomic_thread_fence, which ThreadSanitizer does not model; it warns on every use.
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer -Wno-tsan -g1)
  add_link_options(-fsanitize=thread)
elseif(ORBEL_SANITIZE STREQUAL "fuzzer")
  # ASan and UBSan with libFuzzer's coverage in every object; only the fuzz targets link
  # libFuzzer's main (fuzz/CMakeLists.txt).
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "ORBEL_SANITIZE=fuzzer needs clang (see scripts/fuzz)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(NOT ORBEL_SANITIZE STREQUAL "")
  message(FATAL_ERROR "ORBEL_SANITIZE must be empty, 'address', 'thread' or 'fuzzer'")
endif()

if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
  set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "" FORCE)
endif()

# Collects the sources of one folder; new files are picked up at the next build.
function(orbel_glob_sources out)
  set(result)
  foreach(dir IN LISTS ARGN)
    file(GLOB found CONFIGURE_DEPENDS ${dir}/*.cpp)
    list(APPEND result ${found})
  endforeach()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

# Test, benchmark and fuzz-replay code in the sanitizer builds is compiled without optimisation:
# it is most of those builds' compile time, and what it checks (the SDK and the program's
# libraries) keeps the build type's optimisation. Optimised builds of the benchmarks and the
# fuzzer build are left as they are.
function(orbel_checking_code target)
  if(ORBEL_SANITIZE STREQUAL "address" OR ORBEL_SANITIZE STREQUAL "thread")
    target_compile_options(${target} PRIVATE -O0)
  endif()
endfunction()
