%DOVEX_PATH  Fit a classifier for every L1 penalty of a grid.
%   path = DOVEX_PATH(X, labels) fits dovex_train's model for 20 values of
%   lambda1, from lambda1_max (where every feature's weight is zero) down to
%   lambda1_max/1000, evenly spaced in log. path = DOVEX_PATH(X, labels,
%   Name, Value, ...) sets options. The fits run from the largest lambda1
%   down, each starting from the fit before it (the first from the null
%   model), and fit k runs after dovex_seed(Seed + k - 1), so the bits
%   depend only on the inputs and the seeds: the same in any session,
%   serial or parallel. Predict with the k-th penalty's weights by
%   dovex_predict(path, Xnew, k).
%
%   X (full or sparse) and labels are those of dovex_train, and so is what
%   is fitted (see its help): intercepts not penalised, features
%   standardised by default.
%
%   Options (names in any case):
%     'Lambda1'       the grid of L1 penalties, a vector of values of 0 or
%                     more, in any order; default as above
%     'NumLambda'     the length of the default grid instead; default 20
%     'LambdaMinRatio'  its smallest lambda1 over lambda1_max, above 0 and
%                     at most 1; default 1e-3
%     'Lambda2Ratio'  lambda2 = Lambda2Ratio * lambda1 for each fit;
%                     default 0.1
%     'Lambda2'       a fixed lambda2 for every fit instead
%     'Tol'           as for dovex_train, for every fit
%     'MaxSweeps'     as for dovex_train, for every fit
%     'Bias'          as for dovex_train
%     'Standardize'   as for dovex_train; the whole data's mean and
%                     deviation, the same for every fit
%     'Weights'       as for dovex_train
%     'ClassWeight'   as for dovex_train; 'balanced' from the whole data's
%                     class counts
%     'PenaltyFactor' as for dovex_train
%     'Offset'        as for dovex_train
%     'Seed'          the first fit's seed; default 0
%     'Parallel'      'auto' (default): the host's parallel engine when it
%                     has one (Octave: parcellfun from the parallel package,
%                     MATLAB: parfor with the Parallel Computing Toolbox);
%                     true: that engine or an error; false: one fit after
%                     the other in this session
%     'Workers'       the number of worker processes; default one per core
%     'WarmStart'     true (default): the fits run from the largest lambda1
%                     down, each starting from the one before (one job, so
%                     one worker); false: each fit from the null model, a
%                     job of its own, its bits those of dovex_train's fit
%     'Display'       'off' (default) or 'final': one line per fit, in the
%                     order of the grid, once the fits are done
%     'FeatureNames'  as for dovex_train; kept as path.feature_names
%
%   path is a struct; for n penalties:
%     lambda1, lambda2   1-by-n, the penalties of each fit
%     W                  (nd+1)-by-nc-by-n weights, fit k in W(:,:,k)
%     nnz, sweeps, converged, objective, fit_seconds
%                        1-by-n, as in dovex_train's model
%     failure            1-by-n cell: '' or why fit k failed (its W, nnz
%                        and objective are then NaN)
%     seed               1-by-n, the seed of each fit
%     classes, feature_names, bias, center, scale, lambda1_max, tol,
%     max_sweeps, notes
%                        as in dovex_train's model, shared by all fits
%     engine, workers    what ran the fits: 'serial', 'parcellfun' or
%                        'parfor', and how many processes
%
%   A fit that fails (its scores overflow exp) does not stop the others:
%   it is recorded as above and warned about once (dovex_path:fitFailed).
%   Fits that stop at MaxSweeps without converging are warned about once,
%   with their count and penalties (dovex:notConverged).
%
%   The parallel engine starts its own worker processes, each with the
%   modules and functions of this session's path; in Octave they are
%   stopped again when DOVEX_PATH returns, also after an error or Ctrl-C.
%
%   Errors: dovex_train's checks, as dovex_path:notDouble,
%   dovex_path:notFinite, dovex_path:sizeMismatch, dovex_path:badLabels,
%   dovex_path:oneClass and dovex_path:badOption, and dovex_path:noParallel
%   when 'Parallel' is true and the host has no parallel engine, all before
%   any fit. Warnings: dovex_path:fitFailed, dovex:notConverged.
%
%   Example:
%       D = dlmread('data/digits.csv', ',', 1, 0);
%       path = dovex_path(D(:,1:end-1) / 16, D(:,end), 'Lambda1', [20 5 1]);
%       path.nnz                              % fewer weights at larger lambda1
%       labels = dovex_predict(path, D(1:5,1:end-1) / 16, 3);
%
%   dovex version: unreleased sources
%
%   See also DOVEX_TRAIN, DOVEX_CV, DOVEX_PREDICT, DOVEX_SEED.

function path = dovex_path(X, labels, varargin)
if nargin < 2
    error('dovex_path:badOption', 'usage: path = dovex_path(X, labels, Name, Value, ...)');
end
[X, y, classes] = check_data('dovex_path', X, labels);
nc = max(y);
[opts, lambda1, lambda2, d] = path_options('dovex_path', X, y, nc, varargin);

n = numel(lambda1);
seeds = opts.Seed + (0:n-1);
models = path_jobs('dovex_path', X, y, nc, {':'}, opts, lambda1, lambda2, seeds);
[engine, workers] = deal(models.engine, models.workers);
models = models.fits;

path = struct('lambda1', lambda1, 'lambda2', lambda2, ...
    'W', zeros(size(d.X, 2), nc, n), 'nnz', zeros(1, n), 'sweeps', zeros(1, n), ...
    'converged', false(1, n), 'objective', zeros(1, n), 'fit_seconds', zeros(1, n), ...
    'failure', {cell(1, n)}, 'seed', seeds, 'classes', {classes}, 'feature_names', {opts.FeatureNames}, 'bias', opts.Bias, ...
    'center', [], 'scale', [], 'lambda1_max', d.lambda1_max, 'tol', opts.Tol, ...
    'max_sweeps', opts.MaxSweeps, 'notes', {models{1}.notes}, 'engine', engine, ...
    'workers', workers);
if opts.Standardize
    [path.center, path.scale] = deal(d.center, d.scale);
end
for k = 1:n
    m = models{k};
    path.W(:, :, k) = m.W;
    path.nnz(k) = m.nnz;
    path.sweeps(k) = m.sweeps;
    path.converged(k) = m.converged;
    path.objective(k) = m.objective;
    path.fit_seconds(k) = m.fit_seconds;
    path.failure{k} = m.failure;
    if strcmp(opts.Display, 'final')
        fprintf('fit %d of %d: %s\n', k, n, fit_summary(m));
    end
end
report_fits('dovex_path', models, lambda1);
end

%!function bits = bits_of (W)
%!  bits = typecast (W(:), "uint64");
%!endfunction

%!function ok = have_parallel ()
%!  ok = exist ("parcellfun") || ! isempty (pkg ("list", "parallel"));
%!endfunction

%!shared X, label
%! t = (1:90)';
%! X = [mod(t * 7, 11) / 11, mod(t * 5, 13) / 13, floor((t - 1) / 30) + mod(t, 3) / 4];
%! label = floor ((t - 1) / 30);

%!test  # without warm starts each fit is dovex_train's from its own seed; the default grid
%! p = dovex_path (X, label, "Seed", 10, "MaxSweeps", 200, "Parallel", false, "WarmStart", false);
%! assert (numel (p.lambda1), 20);
%! assert (p.lambda1(1), p.lambda1_max);
%! assert (p.lambda1(end), p.lambda1_max / 1000, 1e-12 * p.lambda1_max);
%! assert (diff (log (p.lambda1)), -log (1000) / 19 * ones (1, 19), 1e-12);
%! assert (p.lambda2, 0.1 * p.lambda1);
%! assert (p.seed, 10:29);
%! assert (p.nnz(1), 0);
%! assert (size (p.W), [4 3 20]);
%! assert ([p.engine, "/", num2str(p.workers)], "serial/1");
%! for k = [1 7 20]
%!   m = dovex_train (X, label, "Lambda1", p.lambda1(k), "Lambda2", p.lambda2(k), ...
%!                    "Seed", 10 + k - 1, "MaxSweeps", 200, "Display", "off");
%!   assert (bits_of (p.W(:,:,k)), bits_of (m.W));
%!   assert ([p.nnz(k), p.sweeps(k), p.converged(k)], [m.nnz, m.sweeps, m.converged]);
%!   assert (p.objective(k), m.objective);
%!   ## and dovex_predict uses the k-th fit
%!   [l1, P1] = dovex_predict (p, X, k);
%!   [l2, P2] = dovex_predict (m, X);
%!   assert (isequal (l1, l2) && isequal (P1, P2));
%! endfor
%! assert (p.classes, [0; 1; 2]);

%!test  # the default grid, longer and deeper; a grid of one value
%! p = dovex_path (X, label, "NumLambda", 4, "LambdaMinRatio", 1e-6, "MaxSweeps", 20, ...
%!                 "Parallel", false);
%! assert (p.lambda1, p.lambda1_max * [1 1e-2 1e-4 1e-6], 1e-12 * p.lambda1_max);
%! q = dovex_path (X, label, "NumLambda", 20, "LambdaMinRatio", 1e-3, "MaxSweeps", 1, ...
%!                 "Parallel", false);
%! r = dovex_path (X, label, "MaxSweeps", 1, "Parallel", false);
%! assert (bits_of (q.lambda1), bits_of (r.lambda1));
%! p = dovex_path (X, label, "NumLambda", 1, "Parallel", false);
%! assert ([p.lambda1, p.nnz], [p.lambda1_max, 0]);

%!test  # a grid of one's own, in any order, with a fixed lambda2
%! p = dovex_path (X, label, "Lambda1", [0.5 4 1], "Lambda2", 0.2, "Parallel", false);
%! assert (p.lambda1, [0.5 4 1]);
%! assert (p.lambda2, [0.2 0.2 0.2]);
%! assert (p.nnz(2) <= p.nnz(3) && p.nnz(3) <= p.nnz(1));
%! ## the largest penalty is fitted first, from the null model
%! m = dovex_train (X, label, "Lambda1", 4, "Lambda2", 0.2, "Seed", 1, "Display", "off");
%! assert (bits_of (p.W(:,:,2)), bits_of (m.W));

%!test  # warm starts: each fit from the one before reaches the cold fit's optimum, in fewer sweeps
%! args = {X, label, "Lambda1", [4 2 1 0.5 0.25], "Tol", 1e-8, "MaxSweeps", 50000, "Parallel", false};
%! warm = dovex_path (args{:});
%! cold = dovex_path (args{:}, "WarmStart", false);
%! assert (bits_of (warm.W(:,:,1)), bits_of (cold.W(:,:,1)));
%! assert (warm.converged & cold.converged);
%! assert (warm.objective, cold.objective, 1e-6 * abs (cold.objective));
%! assert (sum (warm.sweeps) < sum (cold.sweeps));

%!test  # wide data, dense and sparse: the features left out of a fit are checked, and every fit is at its optimum
%! randn ("seed", 7);
%! rand ("seed", 7);
%! ## [samples, features, classes, density]; beyond 1000 features the
%! ## features near their threshold are checked, not swept, until they move
%! for shape = {[60 1200 3 1], [120 300 8 0.15]}
%!   [n, nd, nc, density] = num2cell (shape{1}){:};
%!   Xw = randn (n, nd) .* (rand (n, nd) < density);
%!   yw = 1 + mod ((1:n)', nc);
%!   Xw(:,1:nc) += 1.5 * (yw == 1:nc);
%!   if (density < 1)
%!     Xw = sparse (Xw);
%!   endif
%!   p = dovex_path (Xw, yw, "Parallel", false, "Display", "off");
%!   assert (all (p.converged));
%!   for k = [5 10 15 20]
%!     tight = dovex_train (Xw, yw, "Lambda1", p.lambda1(k), "Lambda2", p.lambda2(k), ...
%!                          "Tol", 1e-13, "MaxSweeps", 5000, "Display", "off");
%!     assert (p.objective(k) >= tight.objective - 1e-6 * abs (tight.objective));
%!     assert (p.nnz(k), tight.nnz);
%!   endfor
%! endfor

%!test  # a sparse X: the bits of the full path; standardised, scaled only
%! S = sparse (X .* (X > 0.4));
%! args = {"Lambda1", [3 1 0.3], "MaxSweeps", 100, "Parallel", false, "Standardize", false};
%! p = dovex_path (S, label, args{:});
%! q = dovex_path (full (S), label, args{:});
%! assert (bits_of (p.W), bits_of (q.W));
%! assert ([p.nnz; p.sweeps], [q.nnz; q.sweeps]);
%! p = dovex_path (S, label, "Lambda1", [3 1 0.3], "Parallel", false, "Tol", 1e-8);
%! q = dovex_path (full (S) ./ p.scale, label, "Lambda1", [3 1 0.3], "Parallel", false, ...
%!                 "Tol", 1e-8, "Standardize", false);
%! assert (p.center, [0 0 0]);
%! assert (p.W(1:3,:,:) .* p.scale', q.W(1:3,:,:), 1e-6);
%! assert (p.W(4,:,:), q.W(4,:,:), 1e-6);

%!test  # the parallel engine gives the very same bits, and stops its workers
%! if (! have_parallel ())
%!   return;
%! endif
%! serial = dovex_path (X, label, "Lambda1", [3 1 0.3 0.1], "Parallel", false, "WarmStart", false);
%! parallel = dovex_path (X, label, "Lambda1", [3 1 0.3 0.1], "Parallel", true, "Workers", 2, ...
%!                        "WarmStart", false);
%! assert (parallel.engine, "parcellfun");
%! assert (parallel.workers, min (2, nproc ()));
%! assert (bits_of (parallel.W), bits_of (serial.W));
%! assert ([parallel.sweeps; parallel.nnz], [serial.sweeps; serial.nnz]);
%! [~, children] = system (sprintf ("ps -o pid= --ppid %d", getpid ()));
%! assert (numel (strsplit (strtrim (children))), 1);   # the ps itself, no worker

%!test  # fits that fail are recorded and warned about once; the rest complete
%! A = [X(:,1:2), [1e200; zeros(89, 1)]];
%! for parallel = [false, true]
%!   if (parallel && ! have_parallel ())
%!     continue;
%!   endif
%!   lastwarn ("");
%!   out = evalc ('p = dovex_path (A, label, "Lambda1", [2 0.5], "Standardize", false, "Parallel", parallel);');
%!   [msg, id] = lastwarn ();
%!   assert (id, "dovex_path:fitFailed");
%!   assert (numel (regexp (out, '^warning: dovex_path', "lineanchors")), 1);
%!   assert (regexp (msg, '^dovex_path: 2 of 2 fits failed, at lambda1 2, 0.5; the first: the fit overflowed'));
%!   assert (all (isnan (p.W(:))) && all (isnan ([p.nnz, p.objective])));
%!   assert (! any (p.converged));
%!   assert (strncmp (p.failure, "the fit overflowed", 18));
%!   ## standardised, the same data fit
%!   q = dovex_path (A, label, "Lambda1", [2 0.5], "Parallel", parallel);
%!   assert (all (isfinite (q.W(:))) && all (strcmp (q.failure, "")));
%! endfor

%!test  # fits that run out of sweeps: one warning with their count and penalties
%! lastwarn ("");
%! out = evalc ('p = dovex_path (X, label, "Lambda1", [100 1 0.1], "MaxSweeps", 1, "Parallel", false);');
%! [msg, id] = lastwarn ();
%! assert (id, "dovex:notConverged");
%! assert (numel (regexp (out, '^warning: dovex_path', "lineanchors")), 1);
%! assert (p.converged, [true false false]);
%! assert (p.sweeps, [0 1 1]);     # the null model is the optimum at 100
%! assert (regexp (msg, '^dovex_path: 2 of 3 fits stopped at MaxSweeps without converging, at lambda1 1, 0.1\.'));

%!test  # Display final: one line per fit, in the order of the grid
%! out = evalc ('dovex_path (X, label, "Lambda1", [2 1], "Display", "final", "Parallel", false);');
%! assert (regexp (out, '^fit 1 of 2: lambda1 2, .*\nfit 2 of 2: lambda1 1, .* s\n$'));

%!error id=dovex_path:badOption dovex_path (X, label, "Lambda2", 1, "Lambda2Ratio", 0.1)
%!error id=dovex_path:badOption dovex_path (X, label, "Lambda1", [1 -1])
%!error id=dovex_path:badOption dovex_path (X, label, "Lambda1", [])
%!error id=dovex_path:badOption dovex_path (X, label, "Lambda1", [2 1], "NumLambda", 2)
%!error id=dovex_path:badOption dovex_path (X, label, "LambdaMinRatio", 1e-2, "Lambda1", 1)
%!error id=dovex_path:badOption dovex_path (X, label, "NumLambda", 0)
%!error id=dovex_path:badOption dovex_path (X, label, "NumLambda", 2.5)
%!error id=dovex_path:badOption dovex_path (X, label, "LambdaMinRatio", 0)
%!error id=dovex_path:badOption dovex_path (X, label, "LambdaMinRatio", 2)
%!error id=dovex_path:badOption dovex_path (X, label, "Seed", 2^32 - 2)
%!error id=dovex_path:badOption dovex_path (X, label, "Display", "sweeps")
%!error id=dovex_path:badOption dovex_path (X, label, "Parallel", "maybe")
%!error id=dovex_path:badOption dovex_path (X, label, "Workers", 0)
%!error id=dovex_path:badOption dovex_path (X, label, "Folds", 3)
%!error id=dovex_path:badOption dovex_path (X, label, "Tol", -1)
%!error id=dovex_path:badOption dovex_path (X, label, "PenaltyFactor", [1 1])
%!error id=dovex_path:badOption dovex_path (X, label, "Weights", ones (89, 1))
%!error id=dovex_path:notFinite dovex_path ([X(1:end-1,:); NaN 0 0], label)
%!error id=dovex_path:oneClass dovex_path (X, zeros (90, 1))
%!error id=dovex_predict:badIndex dovex_predict (dovex_path (X, label, "Lambda1", [1 2]), X)
%!error id=dovex_predict:badIndex dovex_predict (dovex_path (X, label, "Lambda1", [1 2]), X, 3)
