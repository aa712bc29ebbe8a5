# The project's version is set once, by project() in the top-level
# CMakeLists.txt. The help files carry a line
#   %   dovex version: unreleased sources
# which every copy the project makes of them (the build folder, the
# installed folder, the Octave package) gets with that version instead.
# Included by the build and by package/assemble.cmake (a cmake -P script).

# Writes source to destination with the version line stamped; a file without
# that line is copied as it is. Leaves an up-to-date destination untouched.
function(dovex_stamp_version source destination version)
  file(READ "${source}" text)
  string(REGEX REPLACE "(\n%   dovex version: )[^\n]*" "\\1${version}" text "${text}")
  set(old "")
  if(EXISTS "${destination}")
    file(READ "${destination}" old)
  endif()
  if(NOT text STREQUAL old)
    file(WRITE "${destination}" "${text}")
  endif()
endfunction()
