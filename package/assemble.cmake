# cmake -DSOURCE_DIR=... -DVERSION=... -DSTAGE_DIR=... -DOUTPUT_DIR=... -P assemble.cmake
#
# Writes the Octave package OUTPUT_DIR/dovex-VERSION.tar.gz from the project
# in SOURCE_DIR, staged in STAGE_DIR. The files are gathered by rule each
# time, so that a file added to one of these folders is packaged without a
# change here:
#   inst/          every .m in mex/ but make.m (the help files of the compiled
#                  functions), every .m in toolbox/ and in demo/
#   inst/private/  every .m in toolbox/private/
#   inst/data/     everything in data/: the data sets and their attribution
#   src/mex/       every .cpp in mex/ (a gateway, built into a module of its
#                  own) and the .h files they share
#   src/core/      the core's .cpp and .h files and exact_fp.flags
#   src/Makefile, post_install.m and DESCRIPTION (from DESCRIPTION.in): from
#                  this folder
#   COPYING        the project's licence
#   NEWS           the changes of each version (news dovex), the newest
#                  heading naming this version
#   INDEX          the functions, written from the lists above
#   inst/Contents.m and inst/dovex.m: help dovex, one line per function of
#                  inst/ and the version (contents.cmake)
# The .m files get the version stamped into their help (cmake/version.cmake).

foreach(_var SOURCE_DIR VERSION STAGE_DIR OUTPUT_DIR)
  if(NOT DEFINED ${_var})
    message(FATAL_ERROR "assemble.cmake needs -D${_var}=...")
  endif()
endforeach()
include(${SOURCE_DIR}/cmake/version.cmake)
include(${SOURCE_DIR}/package/contents.cmake)

set(S ${SOURCE_DIR})
set(name dovex-${VERSION})
set(root ${STAGE_DIR}/${name})
file(REMOVE_RECURSE ${root})

# Copies the files matching the globs into the folder dest of the package,
# the .m files with the version stamped in, and adds them to the list
# packaged (paths relative to STAGE_DIR, the tarball's own).
set(packaged "")
function(stage dest)
  file(GLOB files LIST_DIRECTORIES false ${ARGN})
  list(REMOVE_ITEM files ${S}/mex/make.m)
  foreach(f IN LISTS files)
    get_filename_component(n ${f} NAME)
    set(to ${root}/${dest}/${n})
    if(n MATCHES "\\.m$")
      dovex_stamp_version(${f} ${to} ${VERSION})
    else()
      configure_file(${f} ${to} COPYONLY)
    endif()
    file(RELATIVE_PATH rel ${STAGE_DIR} ${to})
    list(APPEND packaged ${rel})
  endforeach()
  set(packaged ${packaged} PARENT_SCOPE)
endfunction()

stage(inst ${S}/mex/*.m ${S}/toolbox/*.m ${S}/demo/*.m)
stage(inst/private ${S}/toolbox/private/*.m)
stage(inst/data ${S}/data/*)
stage(src/mex ${S}/mex/*.cpp ${S}/mex/*.h)
stage(src/core ${S}/core/*.cpp ${S}/core/*.h ${S}/core/exact_fp.flags)
stage(src ${S}/package/Makefile)
stage(. ${S}/package/post_install.m ${S}/COPYING)
dovex_stamp_news(${S}/NEWS ${root}/NEWS ${VERSION})
dovex_write_contents(${root}/inst ${S} ${VERSION})
list(APPEND packaged ${name}/NEWS ${name}/inst/Contents.m ${name}/inst/dovex.m)

# The date of the sources: string(TIMESTAMP) takes SOURCE_DATE_EPOCH when it
# is set, and tools/package.sh sets it to the time of the last commit.
string(TIMESTAMP DATE "%Y-%m-%d" UTC)
configure_file(${S}/package/DESCRIPTION.in ${root}/DESCRIPTION @ONLY)

# INDEX: one category per folder of functions, each followed by its names.
set(index "dovex >> Sparse multinomial logistic regression\n")
function(index_category title)
  file(GLOB files LIST_DIRECTORIES false ${ARGN})
  list(REMOVE_ITEM files ${S}/mex/make.m)
  set(names "")
  foreach(f IN LISTS files)
    get_filename_component(n ${f} NAME_WE)
    list(APPEND names ${n})
  endforeach()
  if(names)
    list(SORT names)
    list(JOIN names " " line)
    set(index "${index}${title}\n ${line}\n" PARENT_SCOPE)
  endif()
endfunction()
index_category("Compiled functions" ${S}/mex/*.m)
index_category("Functions" ${S}/toolbox/*.m)
index_category("Demos" ${S}/demo/*.m)
file(WRITE ${root}/INDEX "${index}")
list(APPEND packaged ${name}/DESCRIPTION ${name}/INDEX)

list(SORT packaged)
list(JOIN packaged "\n" listing)
file(WRITE ${STAGE_DIR}/files.txt "${listing}\n")
file(MAKE_DIRECTORY ${OUTPUT_DIR})
set(tarball ${OUTPUT_DIR}/${name}.tar.gz)
execute_process(
  COMMAND ${CMAKE_COMMAND} -E tar czf ${tarball} --format=gnutar --files-from=files.txt
  WORKING_DIRECTORY ${STAGE_DIR}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cannot write ${tarball}")
endif()
message(STATUS "Octave package: ${tarball}")
