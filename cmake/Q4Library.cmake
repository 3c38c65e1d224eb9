# One static, position-independent library per subsystem folder: every source
# below the folder except its tests/ and fuzz/ belongs to it, so adding a file
# needs no CMake edit. Tests in tests/*.cpp become one GoogleTest program registered
# with CTest, with the shared test main (temporary Q4_HOME_DIR, no pauses).
#
#   q4_library(NAME [DEPS targets...] [TEST_DEPS targets...])
include(${CMAKE_CURRENT_LIST_DIR}/Q4Fuzz.cmake)

function(q4_library name)
  cmake_parse_arguments(ARG "" "" "DEPS;TEST_DEPS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  list(FILTER sources EXCLUDE REGEX "/(tests|fuzz)/")
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})

  q4_fuzz_targets(${name} DEPS ${name} ${ARG_TEST_DEPS})

  file(GLOB_RECURSE tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/*.cpp)
  if(tests AND Q4_BUILD_TESTS)
    add_executable(${name}_tests ${tests})
    target_include_directories(${name}_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/tests)
    target_link_libraries(${name}_tests PRIVATE ${name} ${ARG_TEST_DEPS} q4_test_main GTest::gtest)
    gtest_discover_tests(${name}_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                         PROPERTIES TIMEOUT 300)
  endif()
endfunction()

# What a test program needs when it links the plug-in framework before the
# effect exists: the stand-in host's services and the effect's globals.
set(Q4_FRAMEWORK_TEST_SUPPORT sparkhost q4_test_effect_globals CACHE INTERNAL "")
