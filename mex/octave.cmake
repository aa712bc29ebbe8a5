# The GNU Octave module dovex_fit.mex, from the same gateway and core as the
# MATLAB module, whenever Octave's mkoctfile is found. Octave supplies the
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
  message(STATUS "Octave modules: building dovex_fit.mex and dovex_seed.mex with ${DOVEX_MKOCTFILE}")

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
  dovex_add_octave_mex(dovex_fit dovex_core)
  dovex_add_octave_mex(dovex_seed)
  dovex_add_octave_mex(dovex_solve dovex_core)
elseif(DOVEX_OCTAVE)
  message(STATUS "Octave module: mkoctfile not found, dovex_fit.mex is not built")
endif()
