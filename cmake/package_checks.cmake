# The staged package against its INF (check_package.cmake): nothing the INF copies is missing,
# nothing in the package goes uncopied, DriverVer carries the project's version. Two broken
# copies of the INF prove the check rejects both faults.
set(LARK_PACKAGE_CHECK ${CMAKE_SOURCE_DIR}/cmake/check_package.cmake)
add_test(NAME package.contents
  COMMAND ${CMAKE_COMMAND} -DINF=${CMAKE_BINARY_DIR}/package/lark.inf
          -DPACKAGE=${CMAKE_BINARY_DIR}/package -DVERSION=${PROJECT_VERSION}
          -P ${LARK_PACKAGE_CHECK})

set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/package/lark.inf)
file(READ ${CMAKE_SOURCE_DIR}/package/lark.inf lark_inf)
# settings.js dropped from every list; larkfonts.dll added to the copy list after larkui.dll.
string(REGEX REPLACE "\nsettings\\.js[^\n]*" "" lark_inf_uncopied "${lark_inf}")
string(REGEX REPLACE "\nlarkui\\.dll(\r?\n)" "\nlarkui.dll\\1larkfonts.dll\\1" lark_inf_missing
       "${lark_inf}")
foreach(fault uncopied missing)
  file(WRITE ${CMAKE_BINARY_DIR}/package_checks/${fault}/lark.inf "${lark_inf_${fault}}")
  add_test(NAME package.contents_rejects_${fault}
    COMMAND ${CMAKE_COMMAND} -DINF=${CMAKE_BINARY_DIR}/package_checks/${fault}/lark.inf
            -DPACKAGE=${CMAKE_BINARY_DIR}/package -P ${LARK_PACKAGE_CHECK})
endforeach()
set_tests_properties(package.contents_rejects_uncopied PROPERTIES
  PASS_REGULAR_EXPRESSION "the package's settings\\.js is not copied by the INF")
set_tests_properties(package.contents_rejects_missing PROPERTIES
  PASS_REGULAR_EXPRESSION "the INF copies larkfonts\\.dll, which is not in the package")

# The version tools/package names the release after.
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/lark_version.txt CONTENT "${PROJECT_VERSION}\n")

# The Windows build makes the release as tools/package does (which checks the zip it made), into
# <build>/dist, from the build as it is.
if(WIN32)
  find_program(LARK_BASH NAMES bash)
  add_test(NAME package.release COMMAND ${LARK_BASH} ${CMAKE_SOURCE_DIR}/tools/package ${CMAKE_BINARY_DIR})
  set_tests_properties(package.release PROPERTIES
    ENVIRONMENT "LARK_PACKAGE_NO_BUILD=1;LARK_DIST=${CMAKE_BINARY_DIR}/dist" TIMEOUT 60)
endif()
