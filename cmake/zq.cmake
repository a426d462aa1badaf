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
