## How dovex_fit answers a call from the Octave prompt: argument counts,
## input checks with their identifiers, what it leaves alone and the shape
## of what it returns. The fits here run on the bundled iris data.

## The valid call the tests start from, and its inputs.
%!function [args, X, Y, XW, E, Z] = iris_args ()
%!  [X, Y] = dovex_data ("iris");
%!  [ns, nc] = deal (size (X, 1), size (Y, 2));
%!  XW = zeros (ns, nc);
%!  E = ones (ns, nc);
%!  Z = nc * ones (ns, 1);
%!  args = {X, Y, XW, E, Z, 0.5, 0.1, 1e-4, 20};
%!endfunction

## Calls dovex_fit with nout outputs, catching any error: returns what the
## call printed and the error (empty when there was none).
%!function [out, err] = capture (nout, args)
%!  err = [];
%!  out = evalc ("try, call_with (nout, args); catch err, end");
%!endfunction

%!function call_with (nout, args)
%!  switch (nout)
%!    case 0
%!      dovex_fit (args{:});
%!    case 1
%!      W = dovex_fit (args{:});
%!    case 2
%!      [W, V] = dovex_fit (args{:});
%!  endswitch
%!endfunction

## The call with argument p replaced by v.
%!function a = with_arg (a, p, v)
%!  a{p} = v;
%!endfunction

## Checks that the call fails with the given identifier and message (Octave
## puts the function's name in front of it) and prints nothing.
%!function expect_error (args, id, msg)
%!  [out, err] = capture (1, args);
%!  assert (! isempty (err), "no error; expected %s", id);
%!  assert (err.identifier, id);
%!  assert (regexprep (err.message, '^dovex_fit: ', ''), msg);
%!  assert (out, "");
%!endfunction

## Argument counts

%!test  # no inputs: nothing printed, no error
%! [args, X, Y, XW, E, Z] = iris_args ();
%! [out, err] = capture (0, {});
%! assert (out, "");
%! assert (isempty (err));

%!test  # wrong input count: the usage line once, then the error
%! [args, X, Y, XW, E, Z] = iris_args ();
%! usage = "Usage: W = dovex_fit(X,Y,XW,E,Z,lambda1,lambda2,tol,max_sweeps)\n";
%! for n = [1 8 10]
%!   [out, err] = capture (1, [args, args](1:n));
%!   assert (out, usage);
%!   assert (err.message, "dovex_fit: Incorrect number of arguments.");
%! endfor

%!test  # a statement call without an output, and two outputs, are refused
%! [args, X, Y, XW, E, Z] = iris_args ();
%! usage = "Usage: W = dovex_fit(X,Y,XW,E,Z,lambda1,lambda2,tol,max_sweeps)\n";
%! for nout = [0 2]
%!   [out, err] = capture (nout, args);
%!   assert (out, usage);
%!   assert (err.message, "dovex_fit: Incorrect number of arguments.");
%! endfor

## Input checks: class, complexity and sparsity come before shape, and the
## first bad argument in position order is the one reported.

%!test  # class
%! [args, X, Y, XW, E, Z] = iris_args ();
%! expect_error (with_arg (args, 2, single (Y)), "dovex_fit:notDouble",
%!               "Y must be of class double; it is single.");
%! expect_error (with_arg (args, 1, int32 (X)), "dovex_fit:notDouble",
%!               "X must be of class double; it is int32.");
%! expect_error (with_arg (args, 6, true), "dovex_fit:notDouble",
%!               "lambda1 must be of class double; it is logical.");
%! expect_error (with_arg (args, 9, int32 (20)), "dovex_fit:notDouble",
%!               "max_sweeps must be of class double; it is int32.");
%! expect_error (with_arg (args, 5, "abc"), "dovex_fit:notDouble",
%!               "Z must be of class double; it is char.");

%!test  # complexity and sparsity
%! [args, X, Y, XW, E, Z] = iris_args ();
%! expect_error (with_arg (args, 3, complex (XW, ones (size (XW)))), "dovex_fit:complex",
%!               "XW must be real; it is complex.");
%! expect_error (with_arg (args, 8, 1e-4 + 1i), "dovex_fit:complex",
%!               "tol must be real; it is complex.");
%! expect_error (with_arg (args, 1, sparse (X)), "dovex_fit:sparse",
%!               "X must be full; it is sparse.");
%! ## sparse beats the wrong row count of E, which would come later
%! expect_error (with_arg (with_arg (args, 4, E(1:10,:)), 2, sparse (Y)), "dovex_fit:sparse",
%!               "Y must be full; it is sparse.");

%!test  # dimensions
%! [args, X, Y, XW, E, Z] = iris_args ();
%! expect_error (with_arg (args, 1, reshape ([X X], 150, 4, 2)), "dovex_fit:notMatrix",
%!               "X must be a 2-D matrix; it has 3 dimensions.");
%! expect_error (with_arg (args, 4, ones (150, 3, 1, 2)), "dovex_fit:notMatrix",
%!               "E must be a 2-D matrix; it has 4 dimensions.");

%!test  # sizes that disagree
%! [args, X, Y, XW, E, Z] = iris_args ();
%! expect_error (with_arg (args, 2, Y(1:149,:)), "dovex_fit:badSize",
%!               "Y must have 150 rows, as X has; it has 149.");
%! expect_error (with_arg (args, 2, Y(:,1:2)), "dovex_fit:badSize",
%!               "Y must have at least 3 columns, as XW has; it has 2.");
%! expect_error (with_arg (args, 3, XW(1:10,:)), "dovex_fit:badSize",
%!               "XW must have 150 rows, as X has; it has 10.");
%! expect_error (with_arg (args, 4, E(:,1:2)), "dovex_fit:badSize",
%!               "E must be 150x3, the size of XW; it is 150x2.");
%! expect_error (with_arg (args, 5, Z(1:149)), "dovex_fit:badSize",
%!               "Z must have 150 elements, one per row of X; it has 149.");

%!test  # empty scalars
%! [args, X, Y, XW, E, Z] = iris_args ();
%! names = {"lambda1", "lambda2", "tol", "max_sweeps"};
%! for p = 6:9
%!   expect_error (with_arg (args, p, zeros (1, 0)), "dovex_fit:emptyScalar",
%!                 [names{p - 5} " must not be empty."]);
%! endfor

%!test  # the first bad argument in position order is reported
%! [args, X, Y, XW, E, Z] = iris_args ();
%! a = with_arg (with_arg (args, 7, single (0.1)), 3, XW(1:10,:));
%! expect_error (a, "dovex_fit:badSize", "XW must have 150 rows, as X has; it has 10.");
%! a = with_arg (with_arg (args, 1, single (X)), 2, single (Y));
%! expect_error (a, "dovex_fit:notDouble", "X must be of class double; it is single.");

%!test  # sizes that do not fit the fit's 32-bit counts
%! [args, X, Y, XW, E, Z] = iris_args ();
%! ## 50000 features times 50000 target columns: 2.5e9 per-pair entries
%! big = {zeros(1, 50000), zeros(1, 50000), 0, 1, 1, 0.5, 0.1, 1e-4, 20};
%! [out, err] = capture (1, big);
%! assert (err.identifier, "dovex_fit:tooLarge");
%! assert (! isempty (strfind (err.message, "2147483647")));
%! assert (out, "");
%! ## a single dimension past 2^31 - 1, with no element at all
%! [out, err] = capture (1, {zeros(0, 3e9), zeros(0, 3), zeros(0, 3), zeros(0, 3), ...
%!                           zeros(0, 1), 0.5, 0.1, 1e-4, 20});
%! assert (err.identifier, "dovex_fit:tooLarge");
%! assert (out, "");

## What a successful call returns and leaves alone

%!test  # the caller's arrays are not modified
%! [args, X, Y, XW, E, Z] = iris_args ();
%! [X0, Y0, XW0, E0, Z0] = deal (X, Y, XW + 0.25, exp (XW + 0.25), 3 * exp (0.25) * ones (150, 1));
%! a = {X0, Y0, XW0, E0, Z0, 0.5, 0.1, 1e-4, 20};
%! evalc ("W = dovex_fit (a{:});");
%! assert (any (W(:) != 0));
%! assert (isequal (a, {X, Y, XW + 0.25, exp(XW + 0.25), 3 * exp(0.25) * ones(150, 1), ...
%!                      0.5, 0.1, 1e-4, 20}));

%!test  # W is nd-by-nc, real, full and double
%! [args, X, Y, XW, E, Z] = iris_args ();
%! evalc ("W = dovex_fit (args{:});");
%! assert (size (W), [4 3]);
%! assert (class (W), "double");
%! assert (! iscomplex (W) && ! issparse (W));
%! ## Y may have more columns than there are classes; W follows XW
%! evalc ("W = dovex_fit (with_arg (args, 2, [Y, zeros(150, 2)]){:});");
%! assert (size (W), [4 3]);
%! ## no feature, no class
%! evalc ("W = dovex_fit (with_arg (args, 1, zeros (150, 0)){:});");
%! assert (size (W), [0 3]);
%! evalc ("W = dovex_fit (X, Y, zeros (150, 0), zeros (150, 0), Z, 0.5, 0.1, 1e-4, 20);");
%! assert (size (W), [4 0]);

%!test  # max_sweeps below 1: zeros, nothing printed, no draw from rand()
%! [args, X, Y, XW, E, Z] = iris_args ();
%! for m = [0.5 0 -3 NaN]
%!   c_rand ("seed", 11);
%!   out = evalc ("W = dovex_fit (with_arg (args, 9, m){:});");
%!   next = c_rand (1);
%!   assert (out, "");
%!   assert (W, zeros (4, 3));
%!   c_rand ("seed", 11);
%!   assert (next, c_rand (1));
%! endfor

%!test  # one progress line per sweep, up to max_sweeps
%! [args, X, Y, XW, E, Z] = iris_args ();
%! out = evalc ("W = dovex_fit (with_arg (args, 8, -1){:});");
%! lines = strsplit (strtrim (out), "\n");
%! assert (numel (lines), 20);
%! assert (lines{1}, "sweep : 1, diff : 1.0000");
%! assert (strncmp (lines{20}, "sweep : 20, diff : ", 19));

%!test  # of the scalar arguments only the first element counts
%! [args, X, Y, XW, E, Z] = iris_args ();
%! c_rand ("seed", 5);
%! evalc ("W1 = dovex_fit (args{:});");
%! c_rand ("seed", 5);
%! evalc ("W2 = dovex_fit (X, Y, XW, E, Z, [0.5 7], [0.1; 3], [1e-4 1], [20 1]);");
%! assert (isequal (W1, W2));
