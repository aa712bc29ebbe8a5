# The one list of the project's compiled functions: every mex/NAME.cpp is a
# gateway, built into a module NAME.mexa64, NAME.mex (Octave), NAME.mexw64
# and NAME.mexw32, each linked with the core (the linker takes from the
# core's static library only what the gateway calls), and installed and
# packaged beside its help file mex/NAME.m. Included by the main build and
# by the Windows project; make.m and the package's Makefile apply the same
# rule to mex/*.cpp themselves.
#
# dovex_gateways(VAR ROOT) sets VAR to the gateways' names, sorted, from the
# project in ROOT. The glob is redone at every build, so a new gateway
# reconfigures the tree by itself. Also for cmake -P scripts (the MATLAB
# zip), which glob once.
function(dovex_gateways var root)
  if(CMAKE_SCRIPT_MODE_FILE)
    file(GLOB _sources ${root}/mex/*.cpp)
  else()
    file(GLOB _sources CONFIGURE_DEPENDS ${root}/mex/*.cpp)
  endif()
  set(_names "")
  foreach(_source IN LISTS _sources)
    get_filename_component(_name ${_source} NAME_WE)
    list(APPEND _names ${_name})
  endforeach()
  list(SORT _names)
  set(${var} ${_names} PARENT_SCOPE)
endfunction()
