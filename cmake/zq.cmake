# zq_add_test(<name> SOURCES <files...> LIBS <targets...>)
# One test executable is one ctest entry; every test runs on Qt's offscreen
# platform through the shared test main, which creates the application object.
function(zq_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} zqtestmain GTest::gtest GTest::gmock)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;ZQ_TEST=1"
    TIMEOUT 600)
endfunction()

# zq_add_fuzzer(<name> SOURCES <files...> LIBS <targets...>)
# One parser of outside input, one entry point (LLVMFuzzerTestOneInput, and
# LLVMFuzzerInitialize if it needs set-up). Inputs live in
# tests/fuzz/<name>/corpus (seeds) and tests/fuzz/<name>/regressions (inputs
# that once failed). Every build gets <name>_replay, a ctest that feeds both
# folders through the entry point; the fuzz build (ZQ_FUZZ) also gets
# <name>_fuzzer, a libFuzzer program, collected under the target "fuzzers".
function(zq_add_fuzzer name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  set(inputs ${CMAKE_SOURCE_DIR}/tests/fuzz/${name})
  add_executable(${name}_replay ${F_SOURCES} ${CMAKE_SOURCE_DIR}/tests/fuzz/replay_main.cpp)
  target_link_libraries(${name}_replay PRIVATE ${F_LIBS})
  add_test(NAME ${name}_replay COMMAND ${name}_replay ${inputs}/corpus ${inputs}/regressions)
  set_tests_properties(${name}_replay PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;ZQ_TEST=1"
    TIMEOUT 600)
  if(ZQ_FUZZ)
    add_executable(${name}_fuzzer ${F_SOURCES})
    target_link_libraries(${name}_fuzzer PRIVATE ${F_LIBS})
    target_link_options(${name}_fuzzer PRIVATE -fsanitize=fuzzer)
    if(NOT TARGET fuzzers)
      add_custom_target(fuzzers)
    endif()
    add_dependencies(fuzzers ${name}_fuzzer)
  endif()
endfunction()
