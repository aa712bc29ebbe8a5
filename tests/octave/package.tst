## What a user gets besides the module: the help text, the message when the
## module is missing, make.m building it inside Octave (and failing loudly),
## and the installed folder. Each make builds a second dovex_fit.mex, which
## must compute the same bits as the one CMake built.

## W of a short iris fit from srand(seed), with whichever dovex_fit is first
## on the path.
%!function W = iris_fit (seed)
%!  [X, Y] = dovex_data ("iris");
%!  c_rand ("seed", seed);
%!  evalc ("W = dovex_fit (X, Y, zeros (150, 3), ones (150, 3), 3 * ones (150, 1), 0.5, 0.1, 0, 40);");
%!endfunction

## Puts folder first on the path, so that its dovex_fit is the one called.
%!function use_folder (folder)
%!  addpath (folder);
%!  clear ("dovex_fit");
%!  rehash ();
%!endfunction

%!function leave_folder (folder)
%!  rmpath (folder);
%!  clear ("dovex_fit");
%!  rehash ();
%!endfunction

## The names of the gateways, mex/NAME.cpp, of the project.
%!function names = gateway_names ()
%!  d = dir (fullfile (getenv ("DOVEX_SOURCE_DIR"), "mex", "*.cpp"));
%!  [~, names] = cellfun (@fileparts, {d.name}, "UniformOutput", false);
%!  assert (numel (names) >= 2);
%!endfunction

%!function copy_into (src, dst)
%!  [ok, msg] = copyfile (src, dst);
%!  assert (ok, msg);
%!endfunction

%!test  # help dovex_fit shows the help file beside the module
%! text = evalc ("help dovex_fit");
%! assert (regexp (which ("dovex_fit"), '\.mex$'));
%! assert (! isempty (strfind (text, "DOVEX_FIT  Sparse multinomial logistic regression")));
%! assert (! isempty (strfind (text, "W = DOVEX_FIT(X,Y,XW,E,Z,lambda1,lambda2,tol,max_sweeps)")));
%! assert (! isempty (strfind (text, "XW = zeros(ns,nc);  E = ones(ns,nc);  Z = nc*ones(ns,1);")));
%! assert (! isempty (strfind (text, "See also")));
%! ## the project's version, stamped into the build's copy of the help
%! assert (! isempty (strfind (text, ["dovex version: " getenv("DOVEX_VERSION") "\n"])));

%!test  # the module exports mexFunction and nothing else
%! [status, out] = system (sprintf ('nm -D --defined-only "%s"', which ("dovex_fit")));
%! assert (status, 0);
%! symbols = regexp (out, '^\S+ [A-TV-Z] (\S+)$', "tokens", "lineanchors");
%! symbols = cellfun (@(t) t{1}, symbols, "UniformOutput", false);
%! assert (symbols, {"mexFunction"});

%!test  # without the module, dovex_fit says how to build it
%! folder = tempname ();
%! mkdir (folder);
%! unwind_protect
%!   copy_into (fullfile (getenv ("DOVEX_SOURCE_DIR"), "mex", "dovex_fit.m"), folder);
%!   use_folder (folder);
%!   try
%!     W = dovex_fit (1, 1, 0, 1, 1, 0, 1, 0, 1);
%!     error ("dovex_fit ran although only its help file is there");
%!   catch err
%!     assert (err.identifier, "dovex_fit:notCompiled");
%!     assert (! isempty (strfind (err.message, ["run make in " folder])));
%!   end_try_catch
%! unwind_protect_cleanup
%!   leave_folder (folder);
%!   confirm_recursive_rmdir (false, "local");
%!   rmdir (folder, "s");
%! end_unwind_protect

%!test  # without its module, dovex_seed says how to build it
%! folder = tempname ();
%! mkdir (folder);
%! unwind_protect
%!   copy_into (fullfile (getenv ("DOVEX_SOURCE_DIR"), "mex", "dovex_seed.m"), folder);
%!   addpath (folder);
%!   clear ("dovex_seed");
%!   try
%!     dovex_seed (1);
%!     error ("dovex_seed ran although only its help file is there");
%!   catch err
%!     assert (err.identifier, "dovex_seed:notCompiled");
%!     assert (! isempty (strfind (err.message, ["run make in " folder])));
%!   end_try_catch
%! unwind_protect_cleanup
%!   rmpath (folder);
%!   clear ("dovex_seed");
%!   confirm_recursive_rmdir (false, "local");
%!   rmdir (folder, "s");
%! end_unwind_protect

%!test  # make builds the module in a copy of the project's layout
%! W_cmake = iris_fit (8);
%! root = tempname ();
%! mkdir (root);
%! unwind_protect
%!   src = getenv ("DOVEX_SOURCE_DIR");
%!   copy_into (fullfile (src, "mex"), fullfile (root, "mex"));
%!   copy_into (fullfile (src, "core"), fullfile (root, "core"));
%!   folder = fullfile (root, "mex");
%!   use_folder (folder);
%!   evalc ("make");
%!   ## a module for every gateway, each found before the build's own
%!   for g = gateway_names ()
%!     assert (which (g{1}), fullfile (folder, [g{1} ".mex"]));
%!   endfor
%!   W_make = iris_fit (8);
%!   assert (typecast (W_make(:), "uint64"), typecast (W_cmake(:), "uint64"));
%! unwind_protect_cleanup
%!   leave_folder (fullfile (root, "mex"));
%!   names = gateway_names ();
%!   clear (names{:});
%!   confirm_recursive_rmdir (false, "local");
%!   rmdir (root, "s");
%! end_unwind_protect

%!test  # the installed folder works on the path and rebuilds itself with make
%! W_cmake = iris_fit (8);
%! folder = getenv ("DOVEX_INSTALLED");
%! files = {"make.m", "src/core/dovex.h", "dovex_train.m", "dovex_predict.m", ...
%!          "private/check_data.m", "demo_digits.m", "data/digits.csv", "NEWS", "Contents.m", ...
%!          "dovex.m"};
%! for g = gateway_names ()
%!   files(end+1:end+3) = {[g{1} ".mex"], [g{1} ".m"], ["src/mex/" g{1} ".cpp"]};
%! endfor
%! for f = files
%!   assert (isfile (fullfile (folder, f{1})), "%s not installed", f{1});
%! endfor
%! use_folder (folder);
%! unwind_protect
%!   assert (which ("dovex_fit"), fullfile (folder, "dovex_fit.mex"));
%!   text = evalc ("help dovex_fit");
%!   assert (! isempty (strfind (text, "See also")));
%!   assert (! isempty (strfind (text, ["dovex version: " getenv("DOVEX_VERSION") "\n"])));
%!   ## help dovex: the version and every function of the folder, make included
%!   text = evalc ("help dovex");
%!   assert (! isempty (strfind (text, ["Version " getenv("DOVEX_VERSION") " "])), text);
%!   for g = [gateway_names(), {"dovex_train", "demo_digits", "make"}]
%!     assert (! isempty (regexp (text, ['\n\s+' g{1} ' +- '])), text);
%!   endfor
%!   W_installed = iris_fit (8);
%!   assert (typecast (W_installed(:), "uint64"), typecast (W_cmake(:), "uint64"));
%!   ## the toolbox from there, its private helpers and parallel workers included
%!   assert (which ("dovex_train"), fullfile (folder, "dovex_train.m"));
%!   [X, ~, label] = dovex_data ("iris");
%!   m = dovex_train (X, label, "Seed", 8, "Display", "off");
%!   assert (mean (dovex_predict (m, X) == label) > 0.9);
%!   p = dovex_path (X, label, "Lambda1", [5 1], "Parallel", true);
%!   assert (p.engine, "parcellfun");
%!   assert (p.nnz(1) < p.nnz(2));
%!   ## make finds the sources under src/ and replaces the installed module
%!   delete (fullfile (folder, "dovex_fit.mex"));
%!   leave_folder (folder);
%!   use_folder (folder);
%!   evalc ("make");
%!   assert (which ("dovex_fit"), fullfile (folder, "dovex_fit.mex"));
%!   W_make = iris_fit (8);
%!   assert (typecast (W_make(:), "uint64"), typecast (W_cmake(:), "uint64"));
%! unwind_protect_cleanup
%!   leave_folder (folder);
%! end_unwind_protect

%!test  # make stops with the compiler's messages when the build fails
%! root = tempname ();
%! mkdir (root);
%! unwind_protect
%!   src = getenv ("DOVEX_SOURCE_DIR");
%!   copy_into (fullfile (src, "mex"), fullfile (root, "mex"));
%!   copy_into (fullfile (src, "core"), fullfile (root, "core"));
%!   core = fullfile (root, "core", "dovex_approx.cpp");
%!   fid = fopen (core, "a");
%!   fputs (fid, "\nnot_a_declaration_of_cxx;\n");
%!   fclose (fid);
%!   folder = fullfile (root, "mex");
%!   use_folder (folder);
%!   try
%!     evalc ("make");
%!     error ("make returned although the core does not compile");
%!   catch err
%!     assert (err.identifier, "dovex_fit:make:failed");
%!     ## the compiler's own report, naming the file and what it could not read
%!     assert (! isempty (regexp (err.message, 'dovex_approx\.cpp:\d+:\d+: error:')), err.message);
%!     assert (! isempty (strfind (err.message, "not_a_declaration_of_cxx")), err.message);
%!   end_try_catch
%!   assert (! isfile (fullfile (folder, "dovex_fit.mex")));
%! unwind_protect_cleanup
%!   leave_folder (fullfile (root, "mex"));
%!   confirm_recursive_rmdir (false, "local");
%!   rmdir (root, "s");
%! end_unwind_protect

%!error <cannot find the gateways mex/\*\.cpp and core/>
%! folder = tempname ();
%! mkdir (folder);
%! unwind_protect
%!   copy_into (fullfile (getenv ("DOVEX_SOURCE_DIR"), "mex", "make.m"), folder);
%!   addpath (folder);
%!   make ();
%! unwind_protect_cleanup
%!   rmpath (folder);
%!   confirm_recursive_rmdir (false, "local");
%!   rmdir (folder, "s");
%! end_unwind_protect
