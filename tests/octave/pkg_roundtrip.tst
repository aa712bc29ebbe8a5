## The Octave package's round trip, as a user makes it: tools/package.sh
## writes the tarball, then pkg install, pkg load, help, a fit, pkg test,
## the demo, pkg unload and pkg uninstall, each checked. The blocks run in
## order, on one package. Everything lives in a scratch folder of this
## test, DOVEX_PKG_ROOT: its own package prefix and its own local and global
## package lists, so that no package of the user's or of the system's is
## touched. -local keeps pkg install and pkg uninstall to the local list,
## which as root they would leave for the global one.

## W of a short digits fit from srand(seed), with whichever dovex_fit is
## first on the path.
%!function W = digits_fit (seed)
%!  [X, Y] = dovex_data ("digits");
%!  X = [X / 16, ones(rows (X), 1)];
%!  [ns, nc] = size (Y);
%!  c_rand ("seed", seed);
%!  evalc ("W = dovex_fit (X, Y, zeros (ns, nc), ones (ns, nc), nc * ones (ns, 1), 2, 0.5, 0, 40);");
%!endfunction

## The numbers of passed and failed tests in the summary of pkg test.
%!function [npass, nfail] = pkg_test_counts (out)
%!  npass = str2double (regexp (out, '\n\s*PASS\s+(\d+)', "tokens", "once"){1});
%!  nfail = str2double (regexp (out, '\n\s*FAIL\s+(\d+)', "tokens", "once"){1});
%!endfunction

%!shared root, prefix, version, tarball, npass
%! npass = NaN;
%! root = getenv ("DOVEX_PKG_ROOT");
%! version = getenv ("DOVEX_VERSION");
%! prefix = fullfile (root, "prefix");
%! tarball = fullfile (root, "out", ["dovex-" version ".tar.gz"]);
%! if (isfolder (root))
%!   confirm_recursive_rmdir (false, "local");
%!   rmdir (root, "s");
%! endif
%! mkdir (prefix);
%! mkdir (fullfile (root, "run"));
%! pkg ("prefix", prefix, prefix);
%! pkg ("local_list", fullfile (root, "local_list"));
%! pkg ("global_list", fullfile (root, "global_list"));
%! ## pkg test writes its log into the current folder
%! cd (fullfile (root, "run"));
%! assert (exist ("dovex_fit"), 0);

%!test  # tools/package.sh prints the tarball's path as its last line
%! script = fullfile (getenv ("DOVEX_SOURCE_DIR"), "tools", "package.sh");
%! [status, out] = system (sprintf ('bash "%s" "%s" 2>&1', script, fileparts (tarball)));
%! assert (status, 0, out);
%! lines = strsplit (strtrim (out), "\n");
%! assert (lines{end}, tarball);
%! [status, listing] = system (sprintf ('tar tzf "%s"', tarball));
%! assert (status, 0);
%! files = strsplit (strtrim (listing), "\n");
%! assert (all (strncmp (files, ["dovex-" version "/"], numel (version) + 7)));
%! for f = {"DESCRIPTION", "COPYING", "INDEX", "post_install.m", "inst/dovex_fit.m", ...
%!          "inst/demo_digits.m", "inst/data/digits.csv", "inst/data/README.md", ...
%!          "src/Makefile", "src/mex/dovex_fit.cpp", "src/core/exact_fp.flags", "NEWS", ...
%!          "inst/Contents.m", "inst/dovex.m"}
%!   assert (any (strcmp (files, ["dovex-" version "/" f{1}])), "%s not packaged", f{1});
%! endfor
%! assert (! any (strcmp (files, ["dovex-" version "/inst/make.m"])));
%! d = dir (tarball);
%! printf ("tarball: %s, %d bytes, %d files\n", tarball, d.bytes, numel (files));

%!test  # pkg install builds and installs the package under the scratch prefix
%! t0 = tic ();
%! out = evalc ("pkg ('install', '-local', tarball)");
%! printf ("pkg install: %.1f s\n", toc (t0));
%! assert (isempty (strfind (out, "warning")), out);
%! installed = pkg ("list");
%! assert (numel (installed), 1);
%! assert (installed{1}.name, "dovex");
%! assert (installed{1}.version, version);
%! assert (installed{1}.dir, fullfile (prefix, ["dovex-" version]));
%! [local_packages, global_packages] = pkg ("list");
%! assert (isempty (global_packages));

%!test  # pkg load: help shows the installed help file, and a call runs the installed module
%! pkg load dovex
%! module = which ("dovex_fit");
%! assert (strncmp (module, prefix, numel (prefix)), module);
%! assert (regexp (module, '\.mex$'));
%! ## every gateway's module, built by the package's Makefile
%! d = dir (fullfile (getenv ("DOVEX_SOURCE_DIR"), "mex", "*.cpp"));
%! for g = strrep ({d.name}, ".cpp", "")
%!   found = which (g{1});
%!   assert (strncmp (found, prefix, numel (prefix)) && ! isempty (regexp (found, '\.mex$')), found);
%! endfor
%! text = evalc ("help dovex_fit");
%! assert (! isempty (strfind (text, "DOVEX_FIT  Sparse multinomial logistic regression")));
%! assert (! isempty (strfind (text, ["dovex version: " version "\n"])));
%! ## help dovex: the version and every function, the package's folder
%! ## being named dovex-<version>
%! text = evalc ("help dovex");
%! assert (! isempty (strfind (text, ["Version " version " "])), text);
%! for g = [strrep({d.name}, ".cpp", ""), {"dovex_train", "demo_digits"}]
%!   assert (! isempty (regexp (text, ['\n\s+' g{1} ' +- '])), text);
%! endfor
%! assert (isempty (strfind (text, " make ")), text);
%! ## news dovex: this version's changes
%! text = evalc ("news dovex");
%! assert (strncmp (text, ["dovex " version "\n"], numel (version) + 7), text);
%! W = digits_fit (8);
%! ## the same bits as the build's module, the sign of zeros included
%! build = getenv ("DOVEX_BUILD_MODULES");
%! addpath (build);
%! clear ("dovex_fit");
%! unwind_protect
%!   assert (which ("dovex_fit"), fullfile (build, "dovex_fit.mex"));
%!   W_build = digits_fit (8);
%! unwind_protect_cleanup
%!   rmpath (build);
%!   clear ("dovex_fit");
%! end_unwind_protect
%! assert (which ("dovex_fit"), module);
%! assert (typecast (W(:), "uint64"), typecast (W_build(:), "uint64"));
%! assert (nnz (W) > 0);

%!test  # pkg test runs the installed package's tests, and they pass
%! out = evalc ("pkg test dovex");
%! [npass, nfail] = pkg_test_counts (out);
%! ## npass stays for the next test, which breaks one test and runs them again
%! assert (nfail, 0, out);
%! assert (npass > 10, out);
%! assert (! isempty (regexp (out, '/dovex_fit\.m\s+pass')), out);
%! printf ("pkg test dovex: %d passed\n", npass);

%!test  # pkg test reports a failing test of the installed copy
%! help_file = fullfile (fileparts (which ("dovex_fit")), "dovex_fit.m");
%! text = fileread (help_file);
%! assert (npass > 10);
%! unwind_protect
%!   fid = fopen (help_file, "a");
%!   fputs (fid, "\n%!assert (1 + 1, 3)\n");
%!   fclose (fid);
%!   [npass_broken, nfail] = pkg_test_counts (evalc ("pkg test dovex"));
%!   assert (nfail, 1);
%!   assert (npass_broken, npass);
%! unwind_protect_cleanup
%!   fid = fopen (help_file, "w");
%!   fputs (fid, text);
%!   fclose (fid);
%! end_unwind_protect

%!test  # demo dovex_fit runs the installed demo on the installed data
%! assert (strncmp (which ("demo_digits"), prefix, numel (prefix)));
%! ## a short grid, and the picture written into a scratch folder
%! setenv ("DOVEX_DEMO_PENALTIES", "3");
%! back = cd (tempdir ());
%! unwind_protect
%!   out = evalc ("demo dovex_fit");
%! unwind_protect_cleanup
%!   cd (back);
%!   unsetenv ("DOVEX_DEMO_PENALTIES");
%!   if (exist (fullfile (tempdir (), "dovex_digits.png"), "file"))
%!     delete (fullfile (tempdir (), "dovex_digits.png"));
%!   endif
%! end_unwind_protect
%! assert (isempty (strfind (out, "failed")), out);
%! assert (! isempty (regexp (out, 'held-out accuracy: 0\.9[3-9]')), out);

%!test  # pkg unload takes the package's functions off the path
%! pkg unload dovex
%! assert (exist ("dovex_fit"), 0);
%! assert (exist ("demo_digits"), 0);

%!test  # pkg uninstall removes the package and its folder
%! pkg uninstall -local dovex
%! assert (isempty (pkg ("list")));
%! assert (! isfolder (fullfile (prefix, ["dovex-" version])));
