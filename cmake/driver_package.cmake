# The driver package as it is installed: the shipped files and the two
# deliverables under their Windows names, in <build>/package (made afresh, so a file dropped from
# package/ does not linger there).
file(GLOB PACKAGE_FILES CONFIGURE_DEPENDS package/*)
add_custom_target(driver_package ALL
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${CMAKE_BINARY_DIR}/package
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/package
  COMMAND ${CMAKE_COMMAND} -E copy ${PACKAGE_FILES} ${CMAKE_BINARY_DIR}/package/
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:larkui> ${CMAKE_BINARY_DIR}/package/larkui.dll
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:larkmon> ${CMAKE_BINARY_DIR}/package/larkmon.exe
  DEPENDS larkui larkmon ${PACKAGE_FILES})
include(cmake/package_checks.cmake)

# Each source of the deliverables is compiled once per build.
if(CMAKE_GENERATOR STREQUAL "Ninja")
  add_test(NAME build.each_source_once
    COMMAND ${CMAKE_COMMAND} -DNINJA=${CMAKE_MAKE_PROGRAM} -DBUILD=${CMAKE_BINARY_DIR}
            -DSOURCE=${CMAKE_SOURCE_DIR} -P ${CMAKE_SOURCE_DIR}/cmake/check_single_compile.cmake)
endif()
