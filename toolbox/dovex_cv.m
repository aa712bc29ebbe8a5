%DOVEX_CV  Choose the L1 penalty by stratified cross-validation.
%   cv = DOVEX_CV(X, labels) splits the samples into 5 stratified folds and,
%   for each fold and each lambda1 of dovex_path's grid, fits the other
%   folds and scores the held-out one: its mean log-loss and its accuracy.
%   It then picks the penalty and refits all samples at it.
%   cv = DOVEX_CV(X, labels, Name, Value, ...) sets options.
%
%   X (full or sparse) and labels are those of dovex_train; every class
%   needs at least two samples, so that each fold's fit sees every class.
%   Each fold's fit is standardised with its own samples' mean and
%   deviation, as a fit of those samples alone would be.
%
%   Options (names in any case):
%     'Lambda1'       as for dovex_path
%     'NumLambda'     as for dovex_path
%     'LambdaMinRatio'  as for dovex_path
%     'Lambda2Ratio'  as for dovex_path
%     'Lambda2'       as for dovex_path
%     'Tol'           as for dovex_train
%     'MaxSweeps'     as for dovex_train
%     'Bias'          as for dovex_train
%     'Standardize'   as for dovex_train
%     'Weights'       as for dovex_train; the held-out loss is weighted by
%                     them too
%     'ClassWeight'   as for dovex_train, from the whole data's class
%                     counts; the held-out loss is weighted by it too
%     'PenaltyFactor' as for dovex_train
%     'Offset'        as for dovex_train; added to the held-out scores too
%     'Seed'          default 0; see below
%     'Parallel'      as for dovex_path
%     'Workers'       as for dovex_path
%     'WarmStart'     true (default): each fold's fits, one job, run from the
%                     largest lambda1 down, each from the one before, and
%                     so does a path of all samples (one more job), whose
%                     fit at the chosen penalty is the refit; false: every
%                     fit, the refit too, from the null model, a job of its
%                     own
%     'Display'       'off' (default) or 'final': one line per fit
%     'Folds'         the number of folds, 2 or more; default 5
%     'Select'        the penalty of the refit: 'min' (default), the lowest
%                     mean loss, or '1se', the largest lambda1 whose mean
%                     loss is within one standard error of the lowest
%   The grid comes from the whole data (its lambda1_max). 'Seed' fixes both
%   the folds, drawn from a generator of dovex_cv's own (not MATLAB's or
%   Octave's, which are left alone), and the fits: each fold's fit k, and
%   the refit at penalty k, run after dovex_seed(Seed + k - 1). The results
%   are therefore the same bits serial or parallel, in any session; the
%   refit is dovex_path's fit k on all samples (with the same WarmStart).
%
%   cv is a struct; for n penalties and F folds:
%     lambda1, lambda2         1-by-n, the grid
%     loss, accuracy, nnz      F-by-n, per fold and penalty: the held-out
%                              mean log-loss, -sum(s .* log P(true class))
%                              / sum(s) with the sample weights s (1
%                              without Weights and ClassWeight); the
%                              held-out accuracy (not weighted); the
%                              non-zero weights of the features
%     sweeps, converged        F-by-n, how each fit ended (see dovex_train)
%     failure                  F-by-n cell: '' or why the fit failed (its
%                              loss, accuracy and nnz are then NaN)
%     loss_mean, loss_se       1-by-n, over the folds whose fit did not
%     accuracy_mean,           fail (all F unless one did): the mean and
%     accuracy_se, nnz_mean    its standard error, std/sqrt(F)
%     index_min, lambda1_min   the penalty of the lowest mean loss
%     index_1se, lambda1_1se   the largest lambda1 within one standard
%                              error of it
%     select, model            which was refitted, and the refit: a
%                              dovex_train model of all samples
%     fold                     ns-by-1, each sample's fold
%     fit_seconds              F-by-n, the time of each fold's fit
%     seconds                  the time of the whole call
%     engine, workers          what ran the fold fits ('serial',
%                              'parcellfun' or 'parfor') and how many
%                              processes; see dovex_path
%   dovex_predict(cv, Xnew) predicts with cv.model.
%
%   A fold's fit that fails does not stop the others: it is recorded as
%   above and warned about once (dovex_cv:fitFailed). Fits that stop at
%   MaxSweeps without converging, the refit included, are warned about
%   once, with their count and penalties (dovex:notConverged).
%
%   Errors: dovex_cv:notDouble, dovex_cv:notFinite, dovex_cv:sizeMismatch,
%   dovex_cv:badLabels, dovex_cv:oneClass, dovex_cv:badOption (also for a
%   class with fewer than two samples, or more folds than samples),
%   dovex_cv:noParallel, all before any fit; dovex_cv:noFit when every
%   penalty has a failed fold, dovex_cv:diverged when the refit fails.
%
%   Example:
%       D = dlmread('data/digits.csv', ',', 1, 0);
%       cv = dovex_cv(D(:,1:end-1) / 16, D(:,end), 'Lambda1', [10 3 1]);
%       [cv.lambda1_min, cv.lambda1_1se]
%       dovex_plot_cv(cv);
%       labels = dovex_predict(cv, D(1:5,1:end-1) / 16);
%
%   dovex version: unreleased sources
%
%   See also DOVEX_PATH, DOVEX_TRAIN, DOVEX_PLOT_CV, DOVEX_PREDICT.

function cv = dovex_cv(X, labels, varargin)
t0 = tic;
if nargin < 2
    error('dovex_cv:badOption', 'usage: cv = dovex_cv(X, labels, Name, Value, ...)');
end
[X, y, classes] = check_data('dovex_cv', X, labels);
nc = max(y);
[opts, lambda1, lambda2, d] = path_options('dovex_cv', X, y, nc, varargin);
ns = numel(y);
nfolds = opts.Folds;
if nfolds > ns
    error('dovex_cv:badOption', 'option ''Folds'' is %d, more than the %d samples.', ...
          nfolds, ns);
end
counts = accumarray(y, 1, [nc 1]);
if any(counts < 2)
    error('dovex_cv:badOption', ...
          ['every class needs at least 2 samples for cross-validation; ', ...
           '%d classes have only one.'], nnz(counts < 2));
end
fold = stratified_folds(y, nfolds, opts.Seed);

% The folds' fits, and with warm starts the whole data's path, whose fit at
% the chosen penalty is the refit.
n = numel(lambda1);
rows = arrayfun(@(f) find(fold ~= f), 1:nfolds, 'UniformOutput', false);
if opts.WarmStart
    rows{end+1} = ':';
end
models = path_jobs('dovex_cv', X, y, nc, rows, opts, lambda1, lambda2, opts.Seed + (0:n-1));
[engine, workers] = deal(models.engine, models.workers);
models = models.fits;
whole = models(nfolds+1:end, :);
models = models(1:nfolds, :);

% The held-out loss weighs each sample as the fit does.
[loss, accuracy, nnzs, fit_seconds, sweeps] = deal(zeros(nfolds, n));
[converged, failure] = deal(false(nfolds, n), cell(nfolds, n));
for f = 1:nfolds
    held = fold == f;
    s = d.weights(held);
    for k = 1:n
        m = models{f, k};
        if isempty(m.failure)
            m.classes = classes;
            [~, ~, scores] = dovex_predict(m, X(held, :));
            [~, logP] = log_softmax(scores + d.offset(held, :));
            truth = sub2ind(size(logP), (1:nnz(held))', y(held));
            loss(f, k) = -(s' * logP(truth)) / sum(s);
            [~, predicted] = max(logP, [], 2);
            accuracy(f, k) = mean(predicted == y(held));
        else
            [loss(f, k), accuracy(f, k)] = deal(NaN);
        end
        nnzs(f, k) = m.nnz;
        fit_seconds(f, k) = m.fit_seconds;
        sweeps(f, k) = m.sweeps;
        converged(f, k) = m.converged;
        failure{f, k} = m.failure;
        if strcmp(opts.Display, 'final')
            fprintf('fold %d of %d, fit %d of %d: %s\n', f, nfolds, k, n, fit_summary(m));
        end
    end
end

% The means over the folds whose fit did not fail.
ok = cellfun(@isempty, failure);
loss_mean = fold_mean(loss, ok);
loss_se = fold_se(loss, ok, loss_mean);
if ~any(isfinite(loss_mean))
    report_fits('dovex_cv', models, repmat(lambda1, nfolds, 1));
    error('dovex_cv:noFit', 'every fit failed; the first: %s.', failure{1});
end
% Ties go to the larger penalty, the sparser model.
best = find(loss_mean == min(loss_mean));
[~, i] = max(lambda1(best));
index_min = best(i);
within = find(loss_mean <= loss_mean(index_min) + loss_se(index_min));
[~, i] = max(lambda1(within));
index_1se = within(i);
if strcmp(opts.Select, 'min')
    k = index_min;
else
    k = index_1se;
end
if opts.WarmStart
    model = whole{k};
else
    model = fit_path('dovex_cv', d, lambda1(k), lambda2(k), opts.Seed + k - 1, opts, false, ...
                     false, '');
    model = model{1};
end
if ~isempty(model.failure)
    error('dovex_cv:diverged', 'the refit at lambda1 %.4g failed: %s.', lambda1(k), ...
          model.failure);
end
report_fits('dovex_cv', [models(:); {model}], [reshape(repmat(lambda1, nfolds, 1), [], 1); lambda1(k)]);
model = rmfield(model, {'failure', 'failure_id'});
model.classes = classes;
if strcmp(opts.Display, 'final')
    fprintf('refit: %s\n', fit_summary(model));
end

cv = struct('lambda1', lambda1, 'lambda2', lambda2, 'loss', loss, 'accuracy', accuracy, ...
    'nnz', nnzs, 'loss_mean', loss_mean, 'loss_se', loss_se, ...
    'accuracy_mean', fold_mean(accuracy, ok), ...
    'accuracy_se', fold_se(accuracy, ok, fold_mean(accuracy, ok)), ...
    'nnz_mean', fold_mean(nnzs, ok), 'index_min', index_min, 'lambda1_min', lambda1(index_min), ...
    'index_1se', index_1se, 'lambda1_1se', lambda1(index_1se), 'select', opts.Select, ...
    'model', model, 'fold', fold, 'sweeps', sweeps, 'converged', converged, ...
    'failure', {failure}, 'fit_seconds', fit_seconds, 'seconds', [], ...
    'engine', engine, 'workers', workers);
cv.seconds = toc(t0);
end

% The mean of each column over the rows marked ok (NaN where none is).
function m = fold_mean(v, ok)
v(~ok) = 0;
m = sum(v, 1) ./ sum(ok, 1);
end

% The standard error of those means, std / sqrt(number of folds).
function se = fold_se(v, ok, m)
v = bsxfun(@minus, v, m);
v(~ok) = 0;
n = sum(ok, 1);
se = sqrt(sum(v .^ 2, 1) ./ (n - 1)) ./ sqrt(n);
end

%!function D = bundled (name)
%!  here = fileparts (which ("dovex_cv"));
%!  for d = {getenv("DOVEX_DATA_DIR"), fullfile(here, "data"), fullfile(here, "..", "data")}
%!    file = fullfile (d{1}, [name ".csv"]);
%!    if (! isempty (d{1}) && exist (file, "file"))
%!      D = dlmread (file, ",", 1, 0);
%!      return;
%!    endif
%!  endfor
%!  error ("bundled data %s.csv not found", name);
%!endfunction

%!function bits = bits_of (W)
%!  bits = typecast (W(:), "uint64");
%!endfunction

%!shared X, label
%! D = bundled ("iris");
%! [X, label] = deal (D(:,1:4), D(:,5));

%!test  # on digits, serial and parallel cross-validation give the same bits
%! if (! (exist ("parcellfun") || ! isempty (pkg ("list", "parallel"))))
%!   return;
%! endif
%! D = bundled ("digits");
%! args = {D(:,1:end-1) / 16, D(:,end), "Lambda1", [40 8 1.5], "MaxSweeps", 60, "Seed", 3};
%! serial = dovex_cv (args{:}, "Parallel", false);
%! parallel = dovex_cv (args{:}, "Parallel", true);
%! assert ({serial.engine, parallel.engine}, {"serial", "parcellfun"});
%! assert (parallel.workers, nproc ());
%! assert (bits_of ([parallel.loss, parallel.accuracy, parallel.nnz]), ...
%!         bits_of ([serial.loss, serial.accuracy, serial.nnz]));
%! assert (bits_of (parallel.model.W), bits_of (serial.model.W));
%! assert (parallel.fold, serial.fold);
%! assert (parallel.accuracy_mean(end) > 0.9);
%! [~, children] = system (sprintf ("ps -o pid= --ppid %d", getpid ()));
%! assert (numel (strsplit (strtrim (children))), 1);   # the ps itself, no worker

%!test  # a sparse X: the fits of full(X), serial and parallel
%! S = sparse (X .* (X > 2));
%! args = {label, "Lambda1", [20 2 0.5], "Folds", 3, "Seed", 2, "MaxSweeps", 200, "Standardize", false};
%! cv = dovex_cv (S, args{:}, "Parallel", false);
%! full_cv = dovex_cv (full (S), args{:}, "Parallel", false);
%! assert (cv.fold, full_cv.fold);
%! assert (cv.nnz, full_cv.nnz);
%! assert (cv.loss, full_cv.loss, 1e-12);
%! assert (cv.accuracy, full_cv.accuracy);
%! assert (bits_of (cv.model.W), bits_of (full_cv.model.W));
%! if (exist ("parcellfun") || ! isempty (pkg ("list", "parallel")))
%!   parallel = dovex_cv (S, args{:}, "Parallel", true, "Workers", 2);
%!   assert (parallel.engine, "parcellfun");
%!   assert (bits_of ([parallel.loss, parallel.nnz]), bits_of ([cv.loss, cv.nnz]));
%! endif

%!test  # the folds: stratified, balanced, fixed by the seed alone
%! state = rand ("state");
%! cv = dovex_cv (X, label, "Lambda1", [30 3], "Folds", 4, "Seed", 8, "Parallel", false);
%! assert (rand ("state"), state);          # Octave's generator is left alone
%! assert (size (cv.fold), [150 1]);
%! sizes = accumarray (cv.fold, 1)';
%! assert (max (sizes) - min (sizes) <= 1);
%! for c = 0:2
%!   per_fold = accumarray (cv.fold(label == c), 1, [4 1]);
%!   assert (max (per_fold) - min (per_fold) <= 1);
%! endfor
%! again = dovex_cv (X, label, "Lambda1", [30 3], "Folds", 4, "Seed", 8, "Parallel", false);
%! assert (again.fold, cv.fold);
%! assert (bits_of (again.loss), bits_of (cv.loss));
%! other = dovex_cv (X, label, "Lambda1", [30 3], "Folds", 4, "Seed", 9, "Parallel", false);
%! assert (! isequal (other.fold, cv.fold));

%!test  # each fold's score is that of a fit of the other folds, from its seed
%! cv = dovex_cv (X, label, "Lambda1", [20 2 0.5], "Folds", 3, "Seed", 4, "Parallel", false, ...
%!                "WarmStart", false);
%! for f = 1:3
%!   train = cv.fold != f;
%!   m = dovex_train (X(train,:), label(train), "Lambda1", 2, "Lambda2", 0.2, "Seed", 5, "Display", "off");
%!   [predicted, P] = dovex_predict (m, X(! train,:));
%!   truth = sub2ind (size (P), (1:rows (P))', label(! train) + 1);
%!   assert (cv.loss(f,2), -mean (log (P(truth))), 1e-12);
%!   assert (cv.accuracy(f,2), mean (predicted == label(! train)));
%!   assert (cv.nnz(f,2), m.nnz);
%! endfor
%! assert (cv.loss_mean, mean (cv.loss));
%! assert (cv.loss_se, std (cv.loss) / sqrt (3));
%! assert (cv.accuracy_se, std (cv.accuracy) / sqrt (3));
%! assert (cv.nnz_mean, mean (cv.nnz));

%!function k = selected_index (select, cv)
%!  if (strcmp (select, "min"))
%!    k = cv.index_min;
%!  else
%!    k = cv.index_1se;
%!  endif
%!endfunction

%!test  # the two choices, and the refit on all samples at the one selected
%! grid = [40 10 3 1 0.3];
%! for select = {"min", "1se"}
%!   cv = dovex_cv (X, label, "Lambda1", grid, "Select", select{1}, "Folds", 3, "Parallel", false);
%!   cold = dovex_cv (X, label, "Lambda1", grid, "Select", select{1}, "Folds", 3, "Parallel", false, ...
%!                    "WarmStart", false);
%!   assert (bits_of (cold.model.W), bits_of (dovex_path (X, label, "Lambda1", grid, ...
%!           "Parallel", false, "WarmStart", false).W(:,:,selected_index (select{1}, cold))));
%!   assert (cv.loss_mean(cv.index_min), min (cv.loss_mean));
%!   assert (cv.lambda1_min, grid(cv.index_min));
%!   within = cv.loss_mean <= cv.loss_mean(cv.index_min) + cv.loss_se(cv.index_min);
%!   assert (cv.lambda1_1se, max (grid(within)));
%!   assert (cv.lambda1_1se >= cv.lambda1_min);
%!   k = selected_index (select{1}, cv);
%!   p = dovex_path (X, label, "Lambda1", grid, "Parallel", false);
%!   assert (bits_of (cv.model.W), bits_of (p.W(:,:,k)));
%!   assert (cv.model.classes, [0; 1; 2]);
%!   assert (cv.select, select{1});
%! endfor

%!test  # an offset is added to the held-out scores too
%! O = [X(:,1) - 5, zeros(150, 2)];
%! cv = dovex_cv (X, label, "Lambda1", [5 1], "Offset", O, "Folds", 3, "Parallel", false);
%! f = 1;
%! train = cv.fold != f;
%! m = dovex_train (X(train,:), label(train), "Lambda1", 5, "Lambda2", 0.5, "Seed", 0, ...
%!                  "Offset", O(train,:), "Display", "off");
%! [~, ~, S] = dovex_predict (m, X(! train,:));
%! S = S + O(! train,:);
%! S = S - max (S, [], 2);
%! logP = S - log (sum (exp (S), 2));
%! assert (cv.loss(f,1), -mean (logP(sub2ind (size (S), (1:rows (S))', label(! train) + 1))), 1e-12);

%!test  # the null model's held-out loss is the cross-entropy of the training frequencies
%! keep = [1:50, 51:62, 101:150];
%! cv = dovex_cv (X(keep,:), label(keep), "Lambda1", [1e6 1], "Folds", 4, "Parallel", false);
%! for f = 1:4
%!   train = cv.fold != f;
%!   q = accumarray (label(keep)(train) + 1, 1)' / nnz (train);
%!   held = accumarray (label(keep)(! train) + 1, 1, [3 1])';
%!   assert (cv.loss(f,1), -(held * log (q)') / sum (held), 1e-12);
%! endfor
%! assert (cv.nnz(:,1), zeros (4, 1));
%! assert (all (cv.loss(:,2) < cv.loss(:,1)));
%! ## the record of each fit: sweeps and whether it converged, per fold and penalty
%! assert (size (cv.sweeps), [4 2]);
%! assert (cv.converged, true (4, 2));
%! ## the null model is the optimum at 1e6: no sweep; the other fits need some
%! assert (cv.sweeps(:,1), zeros (4, 1));
%! assert (all (cv.sweeps(:,2) >= 1 & cv.sweeps(:,2) < 1000));

%!test  # weights: the held-out loss is weighted as the fit is; dovex_predict takes cv
%! w = 1 + mod ((1:150)', 4);
%! cv = dovex_cv (X, label, "Lambda1", [5 0.5], "Weights", w, "Folds", 3, "Parallel", false, ...
%!                "WarmStart", false);
%! f = 2;
%! train = cv.fold != f;
%! m = dovex_train (X(train,:), label(train), "Weights", w(train), "Lambda1", 0.5, ...
%!                  "Lambda2", 0.05, "Seed", 1, "Display", "off");
%! [~, P] = dovex_predict (m, X(! train,:));
%! logp = log (P(sub2ind (size (P), (1:rows (P))', label(! train) + 1)));
%! assert (cv.loss(f,2), -sum (w(! train) .* logp) / sum (w(! train)), 1e-12);
%! assert (dovex_predict (cv, X), dovex_predict (cv.model, X));

%!test  # a fold whose fit fails does not lose the others
%! w = ones (150, 1);
%! w(label == 2) = 0;
%! w(find (label == 2, 1)) = 1;             # class 2 weighs in one sample only
%! lastwarn ("");
%! out = evalc ('cv = dovex_cv (X, label, "Lambda1", [5 0.5], "Weights", w, "Folds", 3, "Parallel", false);');
%! [msg, id] = lastwarn ();
%! assert (id, "dovex_cv:fitFailed");
%! assert (numel (regexp (out, '^warning: dovex_cv', "lineanchors")), 1);
%! bad = cv.fold(find (label == 2, 1));
%! assert (isnan (cv.loss(bad,:)) & isnan (cv.accuracy(bad,:)));
%! assert (all (! cellfun (@isempty, cv.failure(bad,:))));
%! good = setdiff (1:3, bad);
%! assert (all (isfinite (cv.loss(good,:)(:))));
%! assert (cv.loss_mean, mean (cv.loss(good,:)), 1e-15);
%! assert (all (isfinite (cv.model.W(:))));

%!error id=dovex_cv:badOption dovex_cv (X, label, "Folds", 1)
%!error id=dovex_cv:badOption dovex_cv (X, label, "Tol", -1)
%!error id=dovex_cv:badOption dovex_cv (X, label, "ClassWeight", [1 2])
%!error id=dovex_cv:badOption dovex_cv (X, label, "Folds", 151)
%!error id=dovex_cv:badOption dovex_cv (X, label, "Folds", 2.5)
%!error id=dovex_cv:badOption dovex_cv (X, label, "Select", "max")
%!error id=dovex_cv:badOption dovex_cv (X, [label(1:end-1); 7])
%!error id=dovex_cv:badOption dovex_cv (X, label, "Offset", zeros (150, 2))
%!error id=dovex_cv:badOption dovex_cv (X, label, "Lambda2", 1, "Lambda2Ratio", 1)
%!error id=dovex_cv:notDouble dovex_cv (single (X), label)
%!error id=dovex_cv:sizeMismatch dovex_cv (X, label(1:10))
%!error <every class needs at least 2 samples> dovex_cv (X, [label(1:end-1); 7])
