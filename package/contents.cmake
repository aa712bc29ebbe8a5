# dovex_write_contents(FOLDER SOURCE_DIR VERSION) writes FOLDER/Contents.m
# and FOLDER/dovex.m, the list that MATLAB's and Octave's help show for the
# folder: one line per function found in FOLDER (every .m file there, each
# with the H1 line of its help), under the version and the date of the
# sources. Contents.m is what MATLAB reads for a folder; dovex.m holds the
# same text, so that help dovex finds it whatever the folder is called
# (dovex-<version> of the zip, the Octave package's folder). A function is
# listed as compiled when SOURCE_DIR/mex has its gateway, as a demo when
# SOURCE_DIR/demo has it. Run by the zip, the Octave package and the install
# folder after their .m files are in place; string(TIMESTAMP) takes
# SOURCE_DATE_EPOCH when it is set.
function(dovex_write_contents folder source_dir version)
  file(GLOB _files LIST_DIRECTORIES false ${folder}/*.m)
  set(_groups compiled toolbox demo build)
  set(_title_compiled "Compiled functions")
  set(_title_toolbox "Fitting, prediction and the choice of the penalty")
  set(_title_demo "Demo")
  set(_title_build "Building the compiled functions")
  foreach(_g IN LISTS _groups)
    set(_lines_${_g} "")
  endforeach()
  set(_width 0)
  foreach(_f IN LISTS _files)
    get_filename_component(_n ${_f} NAME_WE)
    string(LENGTH "${_n}" _len)
    if(_len GREATER _width)
      set(_width ${_len})
    endif()
  endforeach()

  foreach(_f IN LISTS _files)
    get_filename_component(_n ${_f} NAME_WE)
    if(_n STREQUAL "Contents" OR _n STREQUAL "dovex")
      continue()
    endif()
    # The H1 line: %NAME  What it does.
    file(STRINGS ${_f} _h1 LIMIT_COUNT 1)
    string(TOUPPER "${_n}" _upper)
    if(NOT _h1 MATCHES "^%${_upper} +(.+)$")
      message(FATAL_ERROR "${_f}: the first line is not an H1 line %${_upper}  ...")
    endif()
    set(_text "${CMAKE_MATCH_1}")
    if(EXISTS ${source_dir}/mex/${_n}.cpp)
      set(_g compiled)
    elseif(EXISTS ${source_dir}/demo/${_n}.m)
      set(_g demo)
    elseif(_n STREQUAL "make")
      set(_g build)
    else()
      set(_g toolbox)
    endif()
    string(LENGTH "${_n}" _len)
    math(EXPR _pad "${_width} - ${_len}")
    string(REPEAT " " ${_pad} _spaces)
    string(APPEND _lines_${_g} "%   ${_n}${_spaces} - ${_text}\n")
  endforeach()

  string(TIMESTAMP _date "%d-%b-%Y" UTC)
  set(_text "% dovex  Sparse multinomial logistic regression with an L1 and an L2 penalty.\n")
  string(APPEND _text "% Version ${version} ${_date}\n")
  foreach(_g IN LISTS _groups)
    if(_lines_${_g})
      string(APPEND _text "%\n% ${_title_${_g}}\n${_lines_${_g}}")
    endif()
  endforeach()
  string(APPEND _text "%\n% help NAME gives a function's call, options, outputs, errors and an example.\n")

  file(WRITE ${folder}/Contents.m "${_text}")
  file(WRITE ${folder}/dovex.m "${_text}\n% Typing dovex shows this list.\nfunction dovex()\nhelp('dovex');\nend\n")
endfunction()

# dovex_stamp_news(SOURCE DESTINATION VERSION) copies the project's NEWS,
# whose newest heading reads "dovex unreleased sources", with that heading
# naming VERSION instead, as the help files get their version line.
function(dovex_stamp_news source destination version)
  file(READ "${source}" _text)
  string(REGEX REPLACE "^dovex unreleased sources" "dovex ${version}" _text "${_text}")
  set(_old "")
  if(EXISTS "${destination}")
    file(READ "${destination}" _old)
  endif()
  if(NOT _text STREQUAL _old)
    file(WRITE "${destination}" "${_text}")
  endif()
endfunction()
