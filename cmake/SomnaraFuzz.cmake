# libFuzzer targets for the parsers of what another process or a user
# controls. With SOMNARA_FUZZ=ON (clang only) every target of the build tree
# is compiled with coverage and ASan+UBSan; build `somnara_fuzz_targets` and
# run `ctest -L fuzz` for the short run CI makes, or run a target by hand for
# a longer one (see README.md).
option(SOMNARA_FUZZ "Build libFuzzer targets (clang only)" OFF)

add_custom_target(somnara_fuzz_targets)

if(SOMNARA_FUZZ)
  if(NOT CMAKE_C_COMPILER_ID MATCHES "Clang" OR NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "SOMNARA_FUZZ needs clang and clang++ (CC=clang CXX=clang++)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=address,undefined)
endif()

# somnara_add_fuzz_target(<name> SOURCES <file>... [LIBRARIES <lib>...]
#                         [CORPUS <dir>] [SECONDS <n>])
# A libFuzzer program and a ctest entry (label "fuzz") that runs it for
# SECONDS (default 10) over a working corpus seeded from CORPUS.
function(somnara_add_fuzz_target name)
  if(NOT SOMNARA_FUZZ)
    return()
  endif()
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "CORPUS;SECONDS" "SOURCES;LIBRARIES")
  if(NOT arg_SECONDS)
    set(arg_SECONDS 10)
  endif()
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE ${arg_LIBRARIES})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  add_dependencies(somnara_fuzz_targets ${name})
  set(work_corpus "${CMAKE_CURRENT_BINARY_DIR}/${name}-corpus")
  file(MAKE_DIRECTORY "${work_corpus}")
  add_test(NAME ${name}
           COMMAND ${name} -max_total_time=${arg_SECONDS} -timeout=5 -max_len=65536 -print_final_stats=1
                   "${work_corpus}" ${arg_CORPUS})
  set_tests_properties(${name} PROPERTIES LABELS "fuzz" TIMEOUT 300)
endfunction()
