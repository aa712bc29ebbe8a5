# cmake --install: one folder to add to the MATLAB or Octave path. It holds
# every module built here, the help files (with the version stamped in) and
# make.m, the user-level functions of toolbox/ (with their private helpers),
# the digits demo and the bundled data it reads, and the sources under src/
# so that make can rebuild the modules in that folder for another host
# (MATLAB after an Octave build, for instance); NEWS, and Contents.m and
# dovex.m for help dovex, written once the .m files are in place.
set(DOVEX_INSTALL_DIR "dovex" CACHE STRING
  "Folder, under the install prefix, for the modules, the toolbox functions and make.m")

foreach(_gateway IN LISTS DOVEX_GATEWAYS)
  foreach(_module IN ITEMS ${_gateway}_octave ${_gateway}_mexa64)
    if(TARGET ${_module})
      install(TARGETS ${_module} LIBRARY DESTINATION ${DOVEX_INSTALL_DIR})
    endif()
  endforeach()
endforeach()
install(FILES ${DOVEX_HELP_FILES} ${CMAKE_CURRENT_LIST_DIR}/make.m
  DESTINATION ${DOVEX_INSTALL_DIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/toolbox/ DESTINATION ${DOVEX_INSTALL_DIR}
  FILES_MATCHING PATTERN "*.m")
install(FILES ${PROJECT_SOURCE_DIR}/demo/demo_digits.m DESTINATION ${DOVEX_INSTALL_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/data/digits.csv ${PROJECT_SOURCE_DIR}/data/iris.csv
  ${PROJECT_SOURCE_DIR}/data/README.md
  DESTINATION ${DOVEX_INSTALL_DIR}/data)
file(GLOB _mex_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.cpp
  ${CMAKE_CURRENT_LIST_DIR}/*.h)
install(FILES ${_mex_sources} DESTINATION ${DOVEX_INSTALL_DIR}/src/mex)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/core/ DESTINATION ${DOVEX_INSTALL_DIR}/src/core
  FILES_MATCHING PATTERN "*.cpp" PATTERN "*.h" PATTERN "*.flags")

include(${PROJECT_SOURCE_DIR}/package/contents.cmake)
dovex_stamp_news(${PROJECT_SOURCE_DIR}/NEWS ${CMAKE_CURRENT_BINARY_DIR}/NEWS ${PROJECT_VERSION})
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/NEWS)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/NEWS DESTINATION ${DOVEX_INSTALL_DIR})
install(CODE "include(\"${PROJECT_SOURCE_DIR}/package/contents.cmake\")
dovex_write_contents(\"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${DOVEX_INSTALL_DIR}\"
  \"${PROJECT_SOURCE_DIR}\" \"${PROJECT_VERSION}\")")
