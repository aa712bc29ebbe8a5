# cmake -DSOURCE_DIR=... -DVERSION=... -DSTAGE_DIR=... -DOUTPUT_DIR=... -DZIP=... \
#       -DMEXA64_DIR=... -DMEXW64_DIR=... -DMEXW32_DIR=... -P matlab_zip.cmake
#
# Writes OUTPUT_DIR/dovex-VERSION-matlab.zip, the MATLAB download: one folder
# dovex-VERSION/ to unzip and add to the path, staged in STAGE_DIR. Every
# compiled function (every gateway mex/NAME.cpp) comes in all three modules,
# NAME.mexa64, NAME.mexw64 and NAME.mexw32, taken from the folders given
# (a build's build/mex and build/windows/ARCH/bin); a missing one is an
# error. Beside them, gathered by rule as the Octave package is:
#   NAME.m          every .m in mex/ (the help files, the version stamped in)
#                   and make.m, every .m in toolbox/ and in demo/
#   private/        every .m in toolbox/private/
#   data/           everything in data/: the data sets and their attribution
#   src/mex/        every .cpp and .h in mex/, which make.m finds there
#   src/core/       the core's .cpp and .h files and exact_fp.flags
#   COPYING, NEWS   the licence and the changes (the heading of this version)
#   README.md       from package/README.matlab.md
#   Contents.m, dovex.m  help dovex (contents.cmake)
# Nothing in the folder refers to a file outside it.

foreach(_var SOURCE_DIR VERSION STAGE_DIR OUTPUT_DIR ZIP MEXA64_DIR MEXW64_DIR MEXW32_DIR)
  if(NOT DEFINED ${_var})
    message(FATAL_ERROR "matlab_zip.cmake needs -D${_var}=...")
  endif()
endforeach()
include(${SOURCE_DIR}/cmake/version.cmake)
include(${SOURCE_DIR}/cmake/gateways.cmake)
include(${SOURCE_DIR}/package/contents.cmake)

set(S ${SOURCE_DIR})
set(name dovex-${VERSION})
set(root ${STAGE_DIR}/${name})
file(REMOVE_RECURSE ${root})

# Copies the files matching the globs into the folder dest of the zip's
# folder, the .m files with the version stamped into their help.
function(stage dest)
  file(GLOB files LIST_DIRECTORIES false ${ARGN})
  foreach(f IN LISTS files)
    get_filename_component(n ${f} NAME)
    if(n MATCHES "\\.m$")
      dovex_stamp_version(${f} ${root}/${dest}/${n} ${VERSION})
    else()
      configure_file(${f} ${root}/${dest}/${n} COPYONLY)
    endif()
  endforeach()
endfunction()

dovex_gateways(gateways ${S})
if(NOT gateways)
  message(FATAL_ERROR "no gateway mex/*.cpp in ${S}")
endif()
foreach(g IN LISTS gateways)
  foreach(ext mexa64 mexw64 mexw32)
    string(TOUPPER ${ext} EXT)
    set(module ${${EXT}_DIR}/${g}.${ext})
    if(NOT EXISTS ${module})
      message(FATAL_ERROR "${module} is missing: build it first (-DDOVEX_WINDOWS=ON for .mexw64 and .mexw32)")
    endif()
    file(COPY ${module} DESTINATION ${root})
  endforeach()
endforeach()

stage(. ${S}/mex/*.m ${S}/toolbox/*.m ${S}/demo/*.m ${S}/COPYING)
stage(private ${S}/toolbox/private/*.m)
stage(data ${S}/data/*)
stage(src/mex ${S}/mex/*.cpp ${S}/mex/*.h)
stage(src/core ${S}/core/*.cpp ${S}/core/*.h ${S}/core/exact_fp.flags)
dovex_stamp_news(${S}/NEWS ${root}/NEWS ${VERSION})
configure_file(${S}/package/README.matlab.md ${root}/README.md @ONLY)
dovex_write_contents(${root} ${S} ${VERSION})

# zip adds to an archive that exists, so the old one goes first. -X leaves
# out the owner and extra time fields.
file(MAKE_DIRECTORY ${OUTPUT_DIR})
set(archive ${OUTPUT_DIR}/${name}-matlab.zip)
file(REMOVE ${archive})
execute_process(COMMAND ${ZIP} -q -r -X -9 ${archive} ${name}
  WORKING_DIRECTORY ${STAGE_DIR}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cannot write ${archive}")
endif()
message(STATUS "MATLAB zip: ${archive}")
