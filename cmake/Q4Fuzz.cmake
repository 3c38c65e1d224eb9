# Fuzz harnesses: every library folder may hold a fuzz/ folder of libFuzzer
# harnesses (one LLVMFuzzerTestOneInput per .cpp file) with a seed corpus in
# fuzz/corpus/<harness>/. The library target never compiles them. A harness
# fuzz/<name>.cpp with a fuzz/<name>.cmake beside it makes its programs with
# q4_fuzz_program itself: one per row of a table, or one fed other seeds.
#
# In the normal and sanitized builds each program is linked with a replay
# main and runs its seeds as a CTest case, so every seed and every past
# finding is checked on each run. With -DQ4_FUZZ=ON (clang, see
# scripts/fuzz.sh) each program becomes a libFuzzer program instead. A build
# without tests has neither.
#
#   q4_fuzz_targets(PREFIX DEPS targets...)
option(Q4_FUZZ "Build the fuzz harnesses as libFuzzer programs (clang)" OFF)
if(Q4_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

function(q4_fuzz_targets prefix)
  if(NOT Q4_FUZZ AND NOT Q4_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB harnesses CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/*.cpp)
  foreach(harness ${harnesses})
    get_filename_component(name ${harness} NAME_WE)
    set(programs ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/${name}.cmake)
    if(EXISTS ${programs})
      include(${programs})
    else()
      q4_fuzz_program(${name})
    endif()
  endforeach()
endfunction()

# q4_fuzz_program(NAME [DEFINITIONS defs...] [SEEDS folders...]), only
# from q4_fuzz_targets, whose prefix, harness and DEPS it uses: the program
# PREFIX_fuzz_NAME, compiled with the definitions and fed the seeds of the
# folders (relative ones from fuzz/; corpus/NAME when none are named).
function(q4_fuzz_program name)
  cmake_parse_arguments(PROGRAM "" "" "DEFINITIONS;SEEDS" ${ARGN})
  set(target ${prefix}_fuzz_${name})
  if(NOT PROGRAM_SEEDS)
    set(PROGRAM_SEEDS corpus/${name})
  endif()
  set(seeds)
  foreach(folder ${PROGRAM_SEEDS})
    cmake_path(ABSOLUTE_PATH folder BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/fuzz NORMALIZE)
    list(APPEND seeds ${folder})
  endforeach()
  string(REPLACE ";" " " line "$<TARGET_FILE:${target}>;${seeds}")
  set_property(GLOBAL APPEND PROPERTY Q4_FUZZ_MANIFEST "${line}")
  add_executable(${target} ${harness})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/testsupport)
  target_compile_definitions(${target} PRIVATE ${PROGRAM_DEFINITIONS})
  if(Q4_FUZZ)
    target_link_options(${target} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${target} PRIVATE ${ARG_DEPS})
  else()
    target_link_libraries(${target} PRIVATE ${ARG_DEPS} q4_fuzz_replay_main)
    add_test(NAME fuzz_replay.${prefix}.${name} COMMAND ${target} ${seeds})
    set_tests_properties(fuzz_replay.${prefix}.${name} PROPERTIES TIMEOUT 300)
  endif()
endfunction()

# Writes fuzz_targets.txt in the build folder: one line per program, the
# program and its seed folders, for scripts/fuzz.sh. Called once, last.
function(q4_write_fuzz_manifest)
  get_property(lines GLOBAL PROPERTY Q4_FUZZ_MANIFEST)
  string(REPLACE ";" "\n" content "${lines}")
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/fuzz_targets.txt CONTENT "${content}\n")
endfunction()
