# The GNU Octave modules NAME.mex, one per gateway as for MATLAB, from the
# same sources and core, whenever Octave's mkoctfile is found. Octave supplies the
# mx*/mex* functions when it loads the module, so nothing is linked for them.
option(DOVEX_OCTAVE "Build the GNU Octave module when Octave is installed" ON)

if(DOVEX_OCTAVE)
  find_program(DOVEX_MKOCTFILE mkoctfile)
  find_program(DOVEX_OCTAVE_CLI octave-cli)
endif()

if(DOVEX_OCTAVE AND DOVEX_MKOCTFILE)
  execute_process(COMMAND ${DOVEX_MKOCTFILE} -p INCFLAGS
    OUTPUT_VARIABLE _octave_incflags OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE _octave_result)
  if(NOT _octave_result EQUAL 0)
    message(FATAL_ERROR "${DOVEX_MKOCTFILE} -p INCFLAGS failed")
  endif()
  separate_arguments(_octave_incflags UNIX_COMMAND "${_octave_incflags}")
  set(DOVEX_OCTAVE_INCLUDE_DIRS "")
  foreach(_flag IN LISTS _octave_incflags)
    if(_flag MATCHES "^-I(.+)$")
      list(APPEND DOVEX_OCTAVE_INCLUDE_DIRS "${CMAKE_MATCH_1}")
    endif()
  endforeach()
  list(JOIN DOVEX_GATEWAYS ", " _names)
  message(STATUS "Octave modules: building ${_names} (.mex) with ${DOVEX_MKOCTFILE}")

  # Octave's MEX headers, for every module built for Octave here. They come
  # first so that mex.h is Octave's own.
  add_library(octave_mex_headers INTERFACE)
  target_include_directories(octave_mex_headers SYSTEM BEFORE INTERFACE ${DOVEX_OCTAVE_INCLUDE_DIRS})

  # NAME.mex from the gateway NAME.cpp; its help file NAME.m is put beside
  # it with the others (mex/CMakeLists.txt). Libraries given after the name
  # (the core) are linked in.
  function(dovex_add_octave_mex name)
    add_library(${name}_octave MODULE ${CMAKE_CURRENT_LIST_DIR}/${name}.cpp)
    target_link_libraries(${name}_octave PRIVATE octave_mex_headers ${ARGN})
    set_target_properties(${name}_octave PROPERTIES
      OUTPUT_NAME ${name}
      PREFIX ""
      SUFFIX ".mex"
      LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
      CXX_VISIBILITY_PRESET hidden
      VISIBILITY_INLINES_HIDDEN ON)
  endfunction()
  # dovex_octave builds them all (tools/demo.sh asks for it).
  add_custom_target(dovex_octave)
  foreach(_gateway IN LISTS DOVEX_GATEWAYS)
    dovex_add_octave_mex(${_gateway} dovex_core)
    add_dependencies(dovex_octave ${_gateway}_octave)
  endforeach()
elseif(DOVEX_OCTAVE)
  message(STATUS "Octave modules: mkoctfile not found, no .mex is built")
endif()
