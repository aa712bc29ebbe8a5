%DOVEX_FIT  Sparse multinomial logistic regression (L1 + L2 penalty).
%   W = DOVEX_FIT(X,Y,XW,E,Z,lambda1,lambda2,tol,max_sweeps) fits the weights
%   W of a linear classifier with one weight column per class, maximising the
%   multinomial log-likelihood minus lambda1*sum(abs(W(:))) and
%   lambda2/2*sum(W(:).^2). The L1 part drives weights to exactly zero. The
%   fit visits one weight at a time and moves it to the maximum of a
%   quadratic lower bound of the objective in that weight alone, in sweeps
%   over all (feature, class) pairs.
%
%   All inputs are real arrays of class double, all full but X.
%     X           ns-by-nd  data, one row per sample, one column per feature;
%                           full or sparse. A sparse X gives the same W and
%                           the same progress lines as full(X) would, bit
%                           for bit, and is never made full: its size
%                           ns*nd may be past what fits in memory.
%     Y           ns-by-ny  targets: Y(k,j) is 1 when sample k is of class j
%                           and 0 otherwise. ny >= nc; columns 1..nc are used.
%     XW          ns-by-nc  starting predictors, one column per class.
%     E           ns-by-nc  exp(XW).
%     Z           ns values sum(E,2), the per-sample sums of E.
%     lambda1     scalar    L1 penalty weight, >= 0.
%     lambda2     scalar    L2 penalty weight, >= 0.
%     tol         scalar    stop once the relative change of W over a sweep
%                           is tol or less.
%     max_sweeps  scalar    largest number of sweeps; below 1 runs none and
%                           returns zeros.
%   Of lambda1, lambda2, tol and max_sweeps the first element is used.
%   The result W is an nd-by-nc double matrix. The inputs are not modified.
%
%   Starting state. The fit always starts from W = zeros(nd,nc). To fit from
%   scratch, pass
%       XW = zeros(ns,nc);  E = ones(ns,nc);  Z = nc*ones(ns,1);
%   A non-zero XW is a fixed offset per sample and class that the fit adds
%   to X*W throughout (for example the scores of an earlier model), and the
%   class probabilities of the fitted model are then softmax(XW + X*W); E
%   and Z must match it: E = exp(XW), Z = sum(E,2).
%
%   Progress. Each sweep prints one line and then runs drawnow:
%       sweep : 12, diff : 0.0031
%   where diff is norm(W_start - W,'fro')/norm(W,'fro'), the change of W
%   over that sweep relative to W at its end (1.0000 after a first sweep
%   that leaves some weight non-zero, NaN while W stays all zero).
%
%   Interrupting. In Octave, Ctrl-C stops a fit at the end of the sweep under
%   way, when the module runs drawnow after the progress line, and returns to
%   the prompt: the call returns nothing, so W keeps what it held before, and
%   Octave frees the memory the call had taken. MATLAB gets the same chance
%   at each sweep's drawnow. A sweep itself cannot be interrupted.
%
%   Random draws. From the second sweep on, a weight that is zero is visited
%   only with a probability that falls by a factor 0.3 each time a visit
%   leaves it at zero. The draws come from the C runtime's rand(), which the
%   module never seeds: MATLAB's and Octave's rand, randn and rng do not
%   affect it. Two calls in one session continue the same sequence and may
%   return slightly different W; the same calls in the same order in a fresh
%   session give the same bits, as long as nothing else draws from rand().
%
%   Platforms. MATLAB on Linux with glibc 2.17 or later (dovex_fit.mexa64),
%   on 64-bit Windows (.mexw64) and on 32-bit Windows up to R2015b
%   (.mexw32); GNU Octave (dovex_fit.mex). The Linux builds draw from the
%   GNU C library's rand(), whose largest value is 2147483647, the Windows
%   builds from the Microsoft C runtime's, whose largest value is 32767.
%   From the second sweep on the two can visit different zero weights and
%   so return a different W for the same inputs; otherwise they run the
%   same steps and agree up to the last bits of rounding. A fresh Octave
%   has already drawn twice from rand() when it starts.
%
%   Errors. A wrong number of inputs or outputs prints the usage line and
%   raises "Incorrect number of arguments."; a call with no inputs does
%   nothing. Inputs of the wrong class, complexity, sparsity (any but X) or
%   size raise dovex_fit:notDouble, dovex_fit:complex, dovex_fit:sparse,
%   dovex_fit:notMatrix, dovex_fit:badSize, dovex_fit:emptyScalar or
%   dovex_fit:tooLarge (a dimension, an array of full inputs, nd*ny or the
%   stored elements of a sparse X past 2147483647) before any work; a sparse
%   X whose indices are out of order raises dovex_fit:badSparse. Where the
%   module is not built and only this help file is found, the call raises
%   dovex_fit:notCompiled.
%
%   Example:
%       D = dlmread('data/iris.csv', ',', 1, 0);  % features, then class 0..2
%       X = [D(:,1:end-1), ones(size(D,1),1)];    % add a constant feature
%       [ns, nc] = deal(size(X,1), max(D(:,end)) + 1);
%       Y = zeros(ns,nc);  Y(sub2ind([ns nc], (1:ns)', D(:,end) + 1)) = 1;
%       W = dovex_fit(X, Y, zeros(ns,nc), ones(ns,nc), nc*ones(ns,1), ...
%                     0.5, 0.1, 1e-4, 500);
%       P = exp(X*W);  P = P ./ sum(P,2);         % softmax(X*W)
%       [~, predicted] = max(P, [], 2);           % class of each row, 1..nc
%       mean(predicted == D(:,end) + 1)           % training accuracy
%
%   dovex version: unreleased sources
%
%   Building. In the project's mex/ folder, a CMake install folder or the
%   MATLAB zip's folder, make (make.m there) rebuilds the modules for the
%   host it runs in (on macOS, builds them). The Octave
%   package has no make.m: rebuild it by installing its tarball again, pkg
%   install dovex-<version>.tar.gz (see README.md).
%
%   See also DOVEX_SOLVE, DOVEX_TRAIN, DOVEX_PREDICT, DOVEX_SEED, DEMO_DIGITS.

function W = dovex_fit(varargin) %#ok<STOUT,INUSD>
% Only reached when the compiled module is missing: it takes precedence over
% this file once built into the same folder.
error('dovex_fit:notCompiled', ...
      ['dovex_fit is not compiled for this platform: run make in %s ', ...
       'or build with CMake (see README.md).'], fileparts(mfilename('fullpath')));
end

%!demo
%! ## Choose the penalty on four fifths of the bundled digits by cross-validation, classify the rest
%! demo_digits

% How dovex_fit answers a call: argument counts, input checks with their
% identifiers, what it leaves alone and the shape of what it returns. These
% tests ship with the function: "pkg test dovex" runs them on an installed
% package. They need no data file and do not touch the C runtime's rand()
% state beyond the draws of the fits themselves.

% The valid call the tests start from, and its inputs: 150 samples of 4
% features (the last a constant) in 3 classes, made up so that a fit
% separates them in part.
%!function [args, X, Y, XW, E, Z] = small_problem ()
%!  k = (1:150)';
%!  label = mod (k, 3);
%!  X = [label + sin(k), cos(k) - label, sin(3 * k), ones(150, 1)];
%!  Y = double (label == 0:2);
%!  XW = zeros (150, 3);
%!  E = ones (150, 3);
%!  Z = 3 * ones (150, 1);
%!  args = {X, Y, XW, E, Z, 0.5, 0.1, 1e-4, 20};
%!endfunction

% Calls dovex_fit with nout outputs, catching any error: returns what the
% call printed and the error (empty when there was none).
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

% The call with argument p replaced by v.
%!function a = with_arg (a, p, v)
%!  a{p} = v;
%!endfunction

% Checks that the call fails with the given identifier and message (Octave
% puts the function's name in front of it) and prints nothing.
%!function expect_error (args, id, msg)
%!  [out, err] = capture (1, args);
%!  assert (! isempty (err), "no error; expected %s", id);
%!  assert (err.identifier, id);
%!  assert (regexprep (err.message, '^dovex_fit: ', ''), msg);
%!  assert (out, "");
%!endfunction

% Argument counts

%!test  # no inputs: nothing printed, no error
%! [out, err] = capture (0, {});
%! assert (out, "");
%! assert (isempty (err));

%!test  # wrong input count: the usage line once, then the error
%! args = small_problem ();
%! usage = "Usage: W = dovex_fit(X,Y,XW,E,Z,lambda1,lambda2,tol,max_sweeps)\n";
%! for n = [1 8 10]
%!   [out, err] = capture (1, [args, args](1:n));
%!   assert (out, usage);
%!   assert (err.message, "dovex_fit: Incorrect number of arguments.");
%! endfor

%!test  # a statement call without an output, and two outputs, are refused
%! args = small_problem ();
%! usage = "Usage: W = dovex_fit(X,Y,XW,E,Z,lambda1,lambda2,tol,max_sweeps)\n";
%! for nout = [0 2]
%!   [out, err] = capture (nout, args);
%!   assert (out, usage);
%!   assert (err.message, "dovex_fit: Incorrect number of arguments.");
%! endfor

% Input checks: class, complexity and sparsity come before shape, and the
% first bad argument in position order is the one reported.

%!test  # class
%! [args, X, Y] = small_problem ();
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
%! [args, X, Y, XW, E] = small_problem ();
%! expect_error (with_arg (args, 3, complex (XW, ones (size (XW)))), "dovex_fit:complex",
%!               "XW must be real; it is complex.");
%! expect_error (with_arg (args, 8, 1e-4 + 1i), "dovex_fit:complex",
%!               "tol must be real; it is complex.");
%! expect_error (with_arg (args, 1, sparse (complex (X, 1))), "dovex_fit:complex",
%!               "X must be real; it is complex.");
%! expect_error (with_arg (args, 1, sparse (X > 0)), "dovex_fit:notDouble",
%!               "X must be of class double; it is logical.");
%! expect_error (with_arg (args, 3, sparse (XW)), "dovex_fit:sparse",
%!               "XW must be full; it is sparse.");
%! ## sparse beats the wrong row count of E, which would come later
%! expect_error (with_arg (with_arg (args, 4, E(1:10,:)), 2, sparse (Y)), "dovex_fit:sparse",
%!               "Y must be full; it is sparse.");

%!test  # dimensions
%! [args, X] = small_problem ();
%! expect_error (with_arg (args, 1, reshape ([X X], 150, 4, 2)), "dovex_fit:notMatrix",
%!               "X must be a 2-D matrix; it has 3 dimensions.");
%! expect_error (with_arg (args, 4, ones (150, 3, 1, 2)), "dovex_fit:notMatrix",
%!               "E must be a 2-D matrix; it has 4 dimensions.");

%!test  # sizes that disagree
%! [args, X, Y, XW, E, Z] = small_problem ();
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
%! args = small_problem ();
%! names = {"lambda1", "lambda2", "tol", "max_sweeps"};
%! for p = 6:9
%!   expect_error (with_arg (args, p, zeros (1, 0)), "dovex_fit:emptyScalar",
%!                 [names{p - 5} " must not be empty."]);
%! endfor

%!test  # the first bad argument in position order is reported
%! [args, X, Y, XW] = small_problem ();
%! a = with_arg (with_arg (args, 7, single (0.1)), 3, XW(1:10,:));
%! expect_error (a, "dovex_fit:badSize", "XW must have 150 rows, as X has; it has 10.");
%! a = with_arg (with_arg (args, 1, single (X)), 2, single (Y));
%! expect_error (a, "dovex_fit:notDouble", "X must be of class double; it is single.");

%!test  # sizes that do not fit the fit's 32-bit counts
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

% What a successful call returns and leaves alone

%!test  # the caller's arrays are not modified
%! [args, X, Y, XW] = small_problem ();
%! [X0, Y0, XW0, E0, Z0] = deal (X, Y, XW + 0.25, exp (XW + 0.25), 3 * exp (0.25) * ones (150, 1));
%! a = {X0, Y0, XW0, E0, Z0, 0.5, 0.1, 1e-4, 20};
%! evalc ("W = dovex_fit (a{:});");
%! assert (any (W(:) != 0));
%! assert (isequal (a, {X, Y, XW + 0.25, exp(XW + 0.25), 3 * exp(0.25) * ones(150, 1), ...
%!                      0.5, 0.1, 1e-4, 20}));

%!test  # W is nd-by-nc, real, full and double
%! [args, X, Y, XW, E, Z] = small_problem ();
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

%!test  # max_sweeps below 1: zeros, and nothing printed
%! args = small_problem ();
%! for m = [0.5 0 -3 NaN]
%!   out = evalc ("W = dovex_fit (with_arg (args, 9, m){:});");
%!   assert (out, "");
%!   assert (W, zeros (4, 3));
%! endfor

%!test  # one progress line per sweep, up to max_sweeps
%! args = small_problem ();
%! out = evalc ("W = dovex_fit (with_arg (args, 8, -1){:});");
%! lines = strsplit (strtrim (out), "\n");
%! assert (numel (lines), 20);
%! assert (lines{1}, "sweep : 1, diff : 1.0000");
%! assert (strncmp (lines{20}, "sweep : 20, diff : ", 19));

% A single sweep visits every weight whatever rand() draws, so these fits
% give the same bits without a seed.
%!test  # a sparse X gives the bits and the text of full(X)
%! [args, X] = small_problem ();
%! X(abs (X) < 0.7) = 0;                  # a quarter of the values or so
%! S = sparse (X);
%! assert (nnz (S) < 0.8 * numel (X));
%! for a = {args, with_arg(args, 6, 0)}
%!   one = with_arg (a{1}, 9, 1);
%!   out_full = evalc ("Wf = dovex_fit (with_arg (one, 1, full (S)){:});");
%!   out_sparse = evalc ("Ws = dovex_fit (with_arg (one, 1, S){:});");
%!   assert (out_sparse, out_full);
%!   assert (typecast (Ws(:), "uint64"), typecast (Wf(:), "uint64"));
%!   assert (any (Ws(:) != 0) && ! issparse (Ws));
%! endfor

%!test  # of the scalar arguments only the first element counts
%! [args, X, Y, XW, E, Z] = small_problem ();
%! out1 = evalc ("W1 = dovex_fit (X, Y, XW, E, Z, 0.5, 0.1, -1, 1);");
%! ## a second element 1e20 for tol would stop the fit before its first sweep
%! out2 = evalc ("W2 = dovex_fit (X, Y, XW, E, Z, [0.5 7], [0.1; 3], [-1 1e20], [1 20]);");
%! assert (out1, "sweep : 1, diff : 1.0000\n");
%! assert (out2, out1);
%! assert (any (W1(:) != 0));
%! assert (typecast (W2(:), "uint64"), typecast (W1(:), "uint64"));
