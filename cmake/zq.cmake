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

# zq_product_libraries(<out>)
# Every shared or module library the tree ships: those defined outside tests/
# and bench/, found from the targets, so a new library needs no list entry.
function(zq_product_libraries out)
  set(found)
  set(dirs ${CMAKE_SOURCE_DIR})
  while(dirs)
    list(POP_FRONT dirs dir)
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(t IN LISTS targets)
      get_target_property(type ${t} TYPE)
      if(type MATCHES "^(SHARED|MODULE)_LIBRARY$")
        list(APPEND found ${t})
      endif()
    endforeach()
    get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    foreach(d IN LISTS subdirs)
      file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR} ${d})
      if(NOT rel MATCHES "^(tests|bench)(/|$)")
        list(APPEND dirs ${d})
      endif()
    endforeach()
  endwhile()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

# zq_keep_std_local(<target>)
# Links a shared library with cmake/stdlocal.map, which keeps the standard
# library's template code, typeinfo and vtables it instantiates out of its
# exports; what it exports is then what its export macro marks. A library
# with a version script of its own (one that lists its exports) is left to it.
set(ZQ_STD_LOCAL_MAP ${CMAKE_CURRENT_LIST_DIR}/stdlocal.map)
function(zq_keep_std_local target)
  get_target_property(options ${target} LINK_OPTIONS)
  if(options MATCHES "--version-script")
    return()
  endif()
  set_property(TARGET ${target} APPEND PROPERTY LINK_OPTIONS "LINKER:--version-script=${ZQ_STD_LOCAL_MAP}")
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${ZQ_STD_LOCAL_MAP})
endfunction()
