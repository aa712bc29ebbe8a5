%DOVEX_SOLVE  The general fit: a starting W, penalty factors, sample weights, a record.
%   [W, info] = DOVEX_SOLVE(X,Y,W0,XW,E,Z,lambda1,lambda2,tol,max_sweeps)
%   [W, info] = DOVEX_SOLVE(X,Y,W0,XW,E,Z,lambda1,lambda2,tol,max_sweeps,opts)
%   [W, info, XW] = DOVEX_SOLVE(...) also returns the predictors at W, as
%   the fit kept them (the offset plus X*W, with each row's shift), from
%   which a next call can start at W without forming X*W.
%   fits the weights W of dovex_fit's classifier, one column per class,
%   maximising
%       sum_k s(k) * sum_j Y(k,j) * log P(k,j)
%         - sum_ij f(i) * (lambda1*|W(i,j)| + lambda2/2*W(i,j)^2),
%   with P the softmax of XW + X*(W - W0) row by row, sample weights s and
%   penalty factors f (all ones unless opts gives them), from W0 on, by the
%   sweeps of dovex_fit, and says exactly how the fit went. dovex_train,
%   dovex_path and dovex_cv are built on it; dovex_fit stays the exact
%   low-level call.
%
%   X, Y, XW, E, Z, lambda1, lambda2, tol and max_sweeps are those of
%   dovex_fit (help dovex_fit), checked the same way. W0 is the nd-by-nc
%   real double starting point; XW, E and Z must describe the predictors at
%   W0: XW = offset + X*W0 for a fixed offset (all zeros, or an earlier
%   model's scores; subtracting any constant from a row of XW changes no
%   probability and keeps exp from overflowing), E = exp(XW), Z = sum(E,2).
%   The caller's arrays are never changed.
%
%   opts is a struct (or [] for none); every field is optional and a field
%   not listed here is an error:
%     penalty  nd non-negative finite factors f: weight (i,j) is penalised by
%              lambda1*f(i)*|w| + lambda2*f(i)/2*w^2; a factor of 0 leaves
%              feature i unpenalised (for an intercept column, say).
%     weights  ns non-negative finite sample weights s; the curvature bound
%              of each feature is weighted the same way, so each visit still
%              maximises a lower bound of the objective.
%     display  true (default): dovex_fit's progress lines and drawnow;
%              false: nothing printed, the same draws of rand().
%     method   how the weights move; every method only ever raises the
%              objective (or leaves it), and gives the same bits on every
%              run. The first three visit one weight at a time, each move
%              costing an exp per sample of its class:
%              'bound' (default)  dovex_fit's curvature bound per feature,
%                        -1/2*(1-1/ny)*sum(s.*X(:,i).^2);
%              'quarter'  the bound on one weight's own curvature,
%                        -1/4*sum(s.*X(:,i).^2), tighter when there are
%                        more than two classes: fewer sweeps;
%              'newton'  also the weight's current curvature: over moves
%                        of at most 0.69/max(abs(X(:,i))) no sample's
%                        p*(1-p) can more than double, so twice the current
%                        -sum(s.*X(:,i).^2.*min(p,1-p)) bounds the
%                        curvature there, and the visit takes that bound's
%                        step when it gains more than the quarter bound's.
%                        Near the optimum of a well-separated problem,
%                        where p*(1-p) is far below 1/4, steps are then
%                        close to Newton's: far fewer sweeps, each about a
%                        quarter dearer;
%              'block'   a Newton step per class, class by class: with
%                        p = E(:,j)./Z, v = s.*max(p.*(1-p), 1e-5) and
%                        r = s.*(Y(:,j)-p), coordinate descent over the
%                        features maximises the model
%                          r'*X*D - 1/2*(X*D)'*diag(v)*(X*D) - penalty(W(:,j)+D)
%                        (a full pass, then passes over its non-zero
%                        weights until the largest move is at most 1/10
%                        of the step, a full pass to check, at most 100
%                        passes), and a line search tries W(:,j) + t*D for
%                        t = 1, 1/2, ..., 2^-20 and keeps the first that
%                        raises the objective, or leaves the column as it
%                        was. exp and log run once per sample and trial,
%                        not per weight moved. On standardised digits it
%                        takes about a quarter of the sweeps of 'newton'
%                        and a third of its time. It draws nothing from rand();
%                        its visits count the coordinate descent's visits,
%                        a feature's once per inner pass it takes part in.
%              'optimum' 'block' sweeps in rounds of 2, 4, 8, ... 32, until
%                        the objective F is within tol of its optimum,
%                        relative to |F|: tol is that distance here, not a
%                        change per sweep. After each round every
%                        feature's class weights are shifted by the one
%                        number that lowers its penalty most (no
%                        probability changes), and once the rounds slow
%                        down, Newton steps on the free weights (those not
%                        zero, and zero ones that violate their condition),
%                        every sign held, each kept only when F rises. The
%                        distance is measured from the optimality
%                        conditions: with r a weight's violation of its
%                        condition (g = lambda1*f*sign(w) + lambda2*f*w for
%                        w not zero, |g| <= lambda1*f for w zero; g the
%                        log-likelihood's gradient) and a F's curvature
%                        along it, the gains r^2/(2a) summed, and then the
%                        Newton step's gain on the free weights together;
%                        the fit stops when that is tol or less. It sees
%                        only the features of X: a caller that left some
%                        out checks their zero weights itself. What the
%                        toolbox fits with.
%
%   info is a struct:
%     sweeps     the number of sweeps that ran
%     diffs      sweeps-by-1, each sweep's relative change of W, exactly the
%                value the stopping rule compared with tol (the progress
%                line prints it to 4 decimals); NaN while W is all zero
%     visits     sweeps-by-1, the (feature, class) pairs visited in each
%                sweep; the first visits every pair, later ones skip most
%                zero weights at random, as dovex_fit does ('block': the
%                coordinate visits of its inner passes)
%     converged  true when the loop ended because the last diff was tol or
%                less, or because W stayed all zero (a diff of 0/0); false
%                when it ran out of sweeps, never started, or ended on NaN
%                weights. 'optimum': true when the distance is tol or less
%   and with method 'optimum' also:
%     gap        the distance to the optimum it ended at, relative to |F|
%     objective  F at W
%     gradient   nd-by-nc, the weighted log-likelihood's gradient at W
%
%   The identity. With W0 all zeros, no opts (or every factor and weight 1,
%   display true, method 'bound'), DOVEX_SOLVE returns dovex_fit's W bit for
%   bit, prints the same lines and draws the same numbers from rand(), for
%   any inputs, X full or sparse. With display false it prints nothing and
%   still draws the same numbers.
%
%   Errors. Other than 10 or 11 inputs or more than 3 outputs prints the
%   usage line and raises dovex_solve:badCount. The inputs shared with
%   dovex_fit raise dovex_fit's errors as dovex_solve:notDouble,
%   dovex_solve:complex, dovex_solve:sparse, dovex_solve:notMatrix,
%   dovex_solve:badSize, dovex_solve:emptyScalar, dovex_solve:tooLarge and
%   dovex_solve:badSparse; a W0 of the wrong size raises dovex_solve:badSize;
%   a bad opts or field dovex_solve:badOption. All before anything is read.
%   Where the module is not built, the call raises dovex_solve:notCompiled.
%
%   Example (a warm start with an unpenalised intercept column):
%       D = dlmread('data/iris.csv', ',', 1, 0);
%       X = [D(:,1:4), ones(size(D,1),1)];  [ns, nd] = size(X);  nc = 3;
%       Y = zeros(ns,nc);  Y(sub2ind([ns nc], (1:ns)', D(:,5) + 1)) = 1;
%       opts = struct('penalty', [1 1 1 1 0], 'display', false);
%       [W, info] = dovex_solve(X, Y, zeros(nd,nc), zeros(ns,nc), ones(ns,nc), ...
%                               nc*ones(ns,1), 5, 0.5, 1e-6, 1000, opts);
%       XW = X*W;  E = exp(XW);                    % the state at W
%       [W2, info2] = dovex_solve(X, Y, W, XW, E, sum(E,2), 1, 0.1, 1e-6, 1000, opts);
%       [info.sweeps, info2.sweeps, info2.converged]
%
%   dovex version: unreleased sources
%
%   See also DOVEX_FIT, DOVEX_TRAIN, DOVEX_SEED.

function [W, info, XW] = dovex_solve(varargin) %#ok<STOUT,INUSD>
% Only reached when the compiled module is missing: it takes precedence over
% this file once built into the same folder.
error('dovex_solve:notCompiled', ...
      ['dovex_solve is not compiled for this platform: run make in %s ', ...
       'or build with CMake (see README.md).'], fileparts(mfilename('fullpath')));
end

% What dovex_solve does beyond dovex_fit, checked from the prompt: the
% identity, the record, the optimality of what it converges to under
% factors and weights, integer weights as repeated rows, a start at the
% optimum, and its errors.

%!function [X, Y, label] = small_problem ()
%!  k = (1:150)';
%!  label = mod (k, 3);
%!  X = [label + sin(k), cos(k) - label, sin(3 * k), ones(150, 1)];
%!  Y = double (label == 0:2);
%!endfunction

%!function [W, info, XW] = solve (X, Y, W0, l1, l2, tol, sweeps, opts)
%!  XW = X * W0;
%!  E = exp (XW);
%!  [W, info, XW] = dovex_solve (X, Y, W0, XW, E, sum (E, 2), l1, l2, tol, sweeps, opts);
%!endfunction

%!function v = worst_violation (X, Y, W, l1, l2, f, s)
%!  ## the optimality conditions of the weighted, factored objective
%!  S = X * W;
%!  P = exp (S - max (S, [], 2));
%!  P = P ./ sum (P, 2);
%!  G = X' * (s .* (Y - P));
%!  F = repmat (f(:), 1, columns (W));
%!  nz = W != 0;
%!  V = max (0, abs (G) - l1 * F);
%!  V(nz) = abs (G(nz) - l1 * F(nz) .* sign (W(nz)) - l2 * F(nz) .* W(nz));
%!  v = max (V(:));
%!endfunction

%!test  # the identity with dovex_fit: bits and text, X full and sparse; the record
%! [X, Y] = small_problem ();
%! args = {Y, zeros(150, 3), ones(150, 3), 3 * ones(150, 1), 0.5, 0.05, 1e-4, 40};
%! for S = {X, sparse(X .* (abs (X) > 0.5))}
%!   dovex_seed (9);
%!   fit_text = evalc ("W1 = dovex_fit (S{1}, args{:});");
%!   dovex_seed (9);
%!   solve_text = evalc ("[W2, info] = dovex_solve (S{1}, args{1}, zeros (4, 3), args{2:end});");
%!   assert (typecast (W2(:), "uint64"), typecast (W1(:), "uint64"));
%!   assert (solve_text, fit_text);
%!   ## every factor and weight 1, silent: the same W and record
%!   dovex_seed (9);
%!   opts = struct ("penalty", ones (4, 1), "weights", ones (150, 1), "display", false);
%!   quiet = evalc ("[W3, info3] = dovex_solve (S{1}, args{1}, zeros (4, 3), args{2:end}, opts);");
%!   assert (quiet, "");
%!   assert (typecast (W3(:), "uint64"), typecast (W1(:), "uint64"));
%!   assert (info3, info);
%!   ## the record is what was printed, unrounded, and converged is exact
%!   printed = cellfun (@str2double, regexp (fit_text, 'diff : (\S+)', "tokens"))';
%!   assert (info.sweeps, numel (printed));
%!   assert (abs (info.diffs - printed) <= 5e-5 + 1e-12);
%!   assert (info.visits(1), 12);
%!   assert (all (info.visits <= 12));
%!   assert (info.converged, info.diffs(end) <= 1e-4);
%! endfor

%!test  # converged: not at the sweep limit with a diff above tol, nor with Tol 0 unmet
%! [X, Y] = small_problem ();
%! [~, info] = solve (X, Y, zeros (4, 3), 0.5, 0.05, 1e-4, 3, struct ("display", false));
%! assert ([info.sweeps, info.converged], [3, false]);
%! [~, info] = solve (X, Y, zeros (4, 3), 0.5, 0.05, 0, 5, struct ("display", false));
%! assert (info.converged, info.diffs(end) == 0);
%! ## W that stays all zero has converged; so does a fit that meets tol
%! [W, info] = solve (X, Y, zeros (4, 3), 1e6, 0, 1e-4, 5, struct ("display", false));
%! assert ([nnz(W), info.sweeps, isnan(info.diffs), info.converged], [0, 1, true, true]);
%! [~, info] = solve (X, Y, zeros (4, 3), 0.5, 0.05, 1e-3, 1000, struct ("display", false));
%! assert (info.converged && info.diffs(end) <= 1e-3 && all (info.diffs(1:end-1) > 1e-3));
%! ## no sweep at all is not convergence
%! [~, info] = solve (X, Y, zeros (4, 3), 0.5, 0.05, 1e-4, 0, []);
%! assert ([info.sweeps, info.converged, size(info.diffs)], [0, false, 0, 1]);

%!test  # at convergence the weighted, factored optimality conditions hold, a factor of 0 included
%! [X, Y] = small_problem ();
%! f = [1; 2; 0.5; 0];
%! s = 0.5 + mod ((1:150)', 4);
%! for method = {"bound", "quarter", "newton", "block", "optimum"}
%!   opts = struct ("penalty", f, "weights", s, "display", false, "method", method{1});
%!   [W, info] = solve (X, Y, zeros (4, 3), 2, 0.3, 1e-12, 1e5, opts);
%!   assert (info.converged);
%!   assert (worst_violation (X, Y, W, 2, 0.3, f, s) < 1e-6);
%!   assert (all (W(4,:) != 0));   # the unpenalised column is used
%! endfor
%! ## 'optimum' says how close it is, F there and the gradient
%! assert (info.gap <= 1e-12);
%! S = X * W;
%! logP = S - max (S, [], 2) - log (sum (exp (S - max (S, [], 2)), 2));
%! F = sum (s .* sum (Y .* logP, 2)) - sum (f .* (2 * sum (abs (W), 2) + 0.15 * sum (W .^ 2, 2)));
%! assert (info.objective, F, 1e-10 * abs (F));
%! assert (info.gradient, X' * (s .* (Y - exp (logP))), 1e-9 * max (abs (X(:))) * sum (s));

%!test  # 'optimum' ascends in every call, Newton steps included, and gives the same bits every run
%! [X, Y] = small_problem ();
%! X(:, 3) = X(:, 1) + 0.1 * X(:, 3);   # correlated features, where Newton steps pay
%! s = 1 + mod ((1:150)', 2);
%! objective = @(W) sum (s .* sum (Y .* (X * W - log (sum (exp (X * W), 2))), 2)) - 0.2 * sum (abs (W(:))) - 0.01 * sum (W(:) .^ 2);
%! opts = struct ("display", false, "method", "optimum", "weights", s);
%! W = zeros (4, 3);
%! previous = objective (W);
%! for k = 1:6
%!   ## tol -1 is never met: 20 sweeps a call, past the round that starts the Newton steps
%!   [W, info] = solve (X, Y, W, 0.2, 0.02, -1, 20, opts);
%!   assert (objective (W) >= previous - 1e-12 * abs (previous));
%!   assert (info.objective, objective (W), 1e-9 * abs (objective (W)));
%!   previous = objective (W);
%! endfor
%! assert (! info.converged);
%! [W1, i1, XW1] = solve (X, Y, zeros (4, 3), 0.2, 0.02, 1e-10, 1e4, opts);
%! [W2, i2, XW2] = solve (X, Y, zeros (4, 3), 0.2, 0.02, 1e-10, 1e4, opts);
%! assert (i1.converged && i1.gap <= 1e-10);
%! assert ({typecast(W2(:), "uint64"), typecast(XW2(:), "uint64"), i2}, ...
%!         {typecast(W1(:), "uint64"), typecast(XW1(:), "uint64"), i1});
%! ## X in compressed columns: the same optimum
%! [Ws, is] = solve (sparse (X .* (abs (X) > 0.3)), Y, zeros (4, 3), 0.2, 0.02, 1e-12, 1e4, opts);
%! [Wf, if_] = solve (X .* (abs (X) > 0.3), Y, zeros (4, 3), 0.2, 0.02, 1e-12, 1e4, opts);
%! assert (is.converged && if_.converged);
%! assert (Ws, Wf, 1e-6 * max (abs (Wf(:))));
%! ## fewer sweeps than the block method to the same optimum
%! [Wb, ib] = solve (X, Y, zeros (4, 3), 0.2, 0.02, 1e-12, 1e5, setfield (opts, "method", "block"));
%! assert (i1.sweeps < ib.sweeps, "sweeps %d and %d", i1.sweeps, ib.sweeps);
%! assert (objective (W1), objective (Wb), 1e-8 * abs (objective (Wb)));

%!test  # 'quarter', 'newton' and 'block' ascend at every sweep, each in fewer sweeps than the one before
%! [X, Y] = small_problem ();
%! s = 1 + mod ((1:150)', 2);
%! objective = @(W) sum (s .* sum (Y .* (X * W - log (sum (exp (X * W), 2))), 2)) - 0.2 * sum (abs (W(:))) - 0.01 * sum (W(:) .^ 2);
%! sweeps = [];
%! for method = {"bound", "quarter", "newton", "block"}
%!   opts = struct ("display", false, "method", method{1}, "weights", s);
%!   W = zeros (4, 3);
%!   previous = objective (W);
%!   for k = 1:30
%!     W = solve (X, Y, W, 0.2, 0.02, -1, 1, opts);
%!     assert (objective (W) >= previous - 1e-12 * abs (previous));
%!     previous = objective (W);
%!   endfor
%!   [~, info] = solve (X, Y, zeros (4, 3), 0.2, 0.02, 1e-9, 1e5, opts);
%!   sweeps(end+1) = info.sweeps;
%! endfor
%! assert (all (diff (sweeps) < 0), "sweeps %s", mat2str (sweeps));

%!test  # integer sample weights are the data with those rows repeated
%! [X, Y] = small_problem ();
%! s = 1 + mod ((1:150)', 3);
%! rows = repelem ((1:150)', s);
%! opts = struct ("display", false);
%! [Wr, ir] = solve (X(rows,:), Y(rows,:), zeros (4, 3), 1, 0.1, 1e-12, 1e5, opts);
%! opts.weights = s;
%! [Ww, iw] = solve (X, Y, zeros (4, 3), 1, 0.1, 1e-12, 1e5, opts);
%! assert (ir.converged && iw.converged);
%! assert (Ww, Wr, 1e-6 * max (abs (Wr(:))));

%!test  # a start at the optimum stays there, and a warm start is cheaper than a cold one
%! [X, Y] = small_problem ();
%! opts = struct ("display", false, "penalty", [1; 1; 1; 0]);
%! [W, cold] = solve (X, Y, zeros (4, 3), 1, 0.1, 1e-13, 1e5, opts);
%! [W2, again] = solve (X, Y, W, 1, 0.1, 1e-13, 1e5, opts);
%! assert (again.converged);
%! assert (W2, W, 1e-9 * max (abs (W(:))));
%! assert (again.sweeps < cold.sweeps / 10);
%! [~, warm] = solve (X, Y, W, 0.8, 0.08, 1e-8, 1e5, opts);
%! [~, cold] = solve (X, Y, zeros (4, 3), 0.8, 0.08, 1e-8, 1e5, opts);
%! assert (warm.sweeps < cold.sweeps);

%!test  # the third output is the state at W: a fit in two calls is the fit in one
%! [X, Y] = small_problem ();
%! opts = struct ("display", false, "method", "block", "penalty", [1; 1; 1; 0]);
%! [W, info, XW] = solve (X, Y, zeros (4, 3), 0.5, 0.05, 0, 3, opts);
%! E = exp (XW);
%! [W2, info2] = dovex_solve (X, Y, W, XW, E, sum (E, 2), 0.5, 0.05, 0, 4, opts);
%! [W7, info7] = solve (X, Y, zeros (4, 3), 0.5, 0.05, 0, 7, opts);
%! assert (typecast (W2(:), "uint64"), typecast (W7(:), "uint64"));
%! assert ([info.diffs; info2.diffs], info7.diffs);
%! assert (XW, X * W, 1e-12 * max (abs (XW(:))));

%!test  # the caller's arrays stay as they were
%! [X, Y] = small_problem ();
%! W0 = 0.1 * ones (4, 3);
%! XW = X * W0;  E = exp (XW);  Z = sum (E, 2);
%! copies = {X, Y, W0, XW, E, Z};
%! opts = struct ("penalty", [1; 1; 1; 0], "weights", ones (150, 1), "display", false);
%! W = dovex_solve (X, Y, W0, XW, E, Z, 0.5, 0.05, 1e-4, 20, opts);
%! assert ({X, Y, W0, XW, E, Z}, copies);
%! assert (! isequal (W, W0));

% Errors, each identified, before anything is read
%!shared X, Y, W0, XW, E, Z, args
%! [X, Y] = small_problem ();
%! [W0, XW, E, Z] = deal (zeros (4, 3), zeros (150, 3), ones (150, 3), 3 * ones (150, 1));
%! args = {0.5, 0.05, 1e-4, 10};
%!error id=dovex_solve:badCount dovex_solve (X, Y, W0)
%!error id=dovex_solve:badCount dovex_solve (X, Y, W0, XW, E, Z, args{:}, struct (), 1)
%!error id=dovex_solve:badCount [a, b, c, d] = dovex_solve (X, Y, W0, XW, E, Z, args{:})
%!error id=dovex_solve:notDouble dovex_solve (single (X), Y, W0, XW, E, Z, args{:})
%!error id=dovex_solve:badSize dovex_solve (X, Y, W0, XW, E(:,1:2), Z, args{:})
%!error id=dovex_solve:emptyScalar dovex_solve (X, Y, W0, XW, E, Z, [], args{2:end})
%!error <W0 must be 4x3, one row per column of X and one column per column of XW; it is 3x3> dovex_solve (X, Y, zeros (3, 3), XW, E, Z, args{:})
%!error id=dovex_solve:notDouble dovex_solve (X, Y, single (W0), XW, E, Z, args{:})
%!error id=dovex_solve:complex dovex_solve (X, Y, W0 + 1i, XW, E, Z, args{:})
%!error id=dovex_solve:sparse dovex_solve (X, Y, sparse (W0), XW, E, Z, args{:})
%!error <opts must be a struct> dovex_solve (X, Y, W0, XW, E, Z, args{:}, 3)
%!error <opts must be one struct; it is a struct array of 2 elements> dovex_solve (X, Y, W0, XW, E, Z, args{:}, struct ("display", {true, false}))
%!error <opts.lambda is not an option; they are penalty, weights, display and method> dovex_solve (X, Y, W0, XW, E, Z, args{:}, struct ("lambda", 1))
%!error <opts.penalty must have 4 elements, one per column of X; it has 3> dovex_solve (X, Y, W0, XW, E, Z, args{:}, struct ("penalty", [1 1 1]))
%!error <opts.penalty must be finite and 0 or more; element 2 is -1> dovex_solve (X, Y, W0, XW, E, Z, args{:}, struct ("penalty", [1 -1 1 1]))
%!error <opts.penalty must be finite and 0 or more; element 1 is NaN> dovex_solve (X, Y, W0, XW, E, Z, args{:}, struct ("penalty", [NaN 1 1 1]))
%!error <opts.weights must have 150 elements, one per row of X; it has 149> dovex_solve (X, Y, W0, XW, E, Z, args{:}, struct ("weights", ones (149, 1)))
%!error <opts.weights must be finite and 0 or more; element 150 is Inf> dovex_solve (X, Y, W0, XW, E, Z, args{:}, struct ("weights", [ones(149, 1); Inf]))
%!error <opts.weights must be a full real double vector; it is single> dovex_solve (X, Y, W0, XW, E, Z, args{:}, struct ("weights", single (ones (150, 1))))
%!error <opts.display must be true or false> dovex_solve (X, Y, W0, XW, E, Z, args{:}, struct ("display", "yes"))
%!error <opts.method must be 'bound', 'quarter', 'newton', 'block' or 'optimum'> dovex_solve (X, Y, W0, XW, E, Z, args{:}, struct ("method", "Newton"))
%!error <opts.method must be 'bound', 'quarter', 'newton', 'block' or 'optimum'> dovex_solve (X, Y, W0, XW, E, Z, args{:}, struct ("method", ["newton", char(0)]))
