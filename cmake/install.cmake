# Installing like a desktop program: the programs in bin, the libraries (and
# the telephony service the binding loads at run time) in a private folder
# under the library folder, a menu entry with its icon, and manual pages made
# from the programs' --help. `cpack -G DEB` packages the same rules.
include(GNUInstallDirs)

set(ZQ_PRIVATE_LIBDIR ${CMAKE_INSTALL_LIBDIR}/zqcomm)
# The service libraries are loaded by name (dlopen), not linked: plug-ins
# without a version in their file name.
set(zq_service_libraries zqtapisvc zqtapiui)
set(zq_programs speechdemo zqlines)

# Every shared library of ours but the service libraries.
zq_product_libraries(zq_libraries)
list(REMOVE_ITEM zq_libraries ${zq_service_libraries})

set_target_properties(${zq_libraries} PROPERTIES
  VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR} INSTALL_RPATH "$ORIGIN")
set_target_properties(${zq_service_libraries} PROPERTIES INSTALL_RPATH "$ORIGIN")
set_target_properties(${zq_programs} PROPERTIES INSTALL_RPATH "$ORIGIN/../${ZQ_PRIVATE_LIBDIR}")

# Where the binding finds the service once installed, from the program's folder.
file(RELATIVE_PATH zq_service_from_bin /${CMAKE_INSTALL_BINDIR} /${ZQ_PRIVATE_LIBDIR})
target_compile_definitions(zqtapi PRIVATE ZQ_SERVICE_DIR_FROM_BIN="${zq_service_from_bin}")

install(TARGETS ${zq_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS ${zq_libraries} ${zq_service_libraries}
  LIBRARY DESTINATION ${ZQ_PRIVATE_LIBDIR} NAMELINK_SKIP)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/speechdemo.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/speechdemo.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# Manual pages from --help.
find_program(HELP2MAN help2man)
if(HELP2MAN)
  set(zq_manpages)
  set(speechdemo_summary "telephone call/answer machine that speaks typed text")
  set(zqlines_summary "list, configure and try the telephone lines")
  foreach(p IN LISTS zq_programs)
    set(page ${CMAKE_BINARY_DIR}/man/${p}.1)
    add_custom_command(OUTPUT ${page}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
        ${HELP2MAN} --no-info --no-discard-stderr --version-string=${PROJECT_VERSION}
        "--name=${${p}_summary}" --output=${page} $<TARGET_FILE:${p}>
      DEPENDS ${p}
      VERBATIM)
    list(APPEND zq_manpages ${page})
  endforeach()
  add_custom_target(manpages ALL DEPENDS ${zq_manpages})
  install(FILES ${zq_manpages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(WARNING "help2man not found: the manual pages are not made")
endif()

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zqcomm-speechdemo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "zqComm Lib maintainers <maintainers@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Telephone call/answer machine that speaks typed text")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
# Loaded at run time, so no library dependency names them: the voices, and
# the toolkit's platform plug-ins.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "espeak-ng-data, qt6-qpa-plugins")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)

if(ZQ_BUILD_TESTS)
  add_test(NAME package_and_installed_run
    COMMAND sh ${CMAKE_SOURCE_DIR}/packaging/check-package.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(package_and_installed_run PROPERTIES LABELS package TIMEOUT 900 RUN_SERIAL ON)
endif()
