%DOVEX_CV  Choose the L1 penalty by cross-validation.
%   cv = DOVEX_CV(X, labels) splits the samples into 5 stratified folds and,
%   for each fold and each lambda1 of dovex_path's grid, fits the other
%   folds and scores the held-out one: its mean log-loss, misclassification
%   rate, balanced error and (two classes) AUC. It then picks the penalty
%   by one of these and refits all samples at it.
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
%     'FeatureNames'  as for dovex_train; kept by the refits
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
%     'FoldId'        one fold number (a whole number, 1 or more) per
%                     sample: the folds are then exactly these, numbered
%                     in the order of their values (1..F given, 1..F kept);
%                     not with 'Folds' or 'Groups'
%     'Groups'        one group label per sample (numbers, a char matrix
%                     with a row per sample, or a cell array of char
%                     vectors): each group lies whole in one fold. The
%                     groups, shuffled by 'Seed', go largest first to the
%                     fold with the fewest samples so far; 'Folds' (there
%                     must be at least as many groups) equal to the number
%                     of groups is leave-one-group-out. Not stratified
%     'Measure'       the held-out measure that chooses the penalty: 'loss'
%                     (default), 'error', 'balanced' or, for two classes,
%                     'auc'; see below. Every measure is reported
%     'Select'        the penalty of the refit: 'min' (default), the best
%                     mean measure, or '1se', the largest lambda1 whose
%                     mean measure is within one standard error of the best
%   The grid comes from the whole data (its lambda1_max). 'Seed' fixes both
%   the folds, drawn from a generator of dovex_cv's own (not MATLAB's or
%   Octave's, which are left alone), and the fits: each fold's fit k, and
%   the refit at penalty k, run after dovex_seed(Seed + k - 1). The results
%   are therefore the same bits serial or parallel, in any session; the
%   refit is dovex_path's fit k on all samples (with the same WarmStart).
%
%   cv is a struct; for n penalties and F folds:
%     lambda1, lambda2         1-by-n, the grid
%     measure                  the measure that chose, as 'Measure'
%     loss, accuracy, nnz      F-by-n, per fold and penalty: the held-out
%                              mean log-loss, -sum(s .* log P(true class))
%                              / sum(s) with the sample weights s (1
%                              without Weights and ClassWeight); the
%                              held-out accuracy (not weighted); the
%                              non-zero weights of the features
%     error, balanced, auc     F-by-n: 1 - accuracy; the balanced error, 1
%                              minus the mean recall of the classes the
%                              fold holds out; the AUC of P(second class)
%                              (ties count half; NaN unless there are two
%                              classes and the fold holds out both). None
%                              is weighted
%     sweeps, converged        F-by-n, how each fit ended (see dovex_train)
%     failure                  F-by-n cell: '' or why the fit failed (its
%                              loss, accuracy and nnz are then NaN)
%     loss_mean, loss_se       1-by-n, over the folds whose fit did not
%     accuracy_mean,           fail (all F unless one did; for auc, those
%     accuracy_se, nnz_mean    holding out both classes): the mean and
%     error_mean, error_se,    its standard error, std/sqrt(F)
%     balanced_mean,
%     balanced_se, auc_mean,
%     auc_se
%     index_min, lambda1_min   the penalty of the best mean measure (the
%                              lowest; for auc the highest)
%     index_1se, lambda1_1se   the largest lambda1 within one standard
%                              error of it
%     select, model            which was refitted, and the refit: a
%                              dovex_train model of all samples
%     model_min, model_1se     the fits of all samples at the two choices,
%                              one of them model (the same fit when
%                              index_min is index_1se)
%     predictions              ns-by-nc-by-p, each sample's held-out class
%                              probabilities (the offset included) from
%                              the fit of the other folds, NaN where that
%                              fit failed; at every penalty (p = n) when
%                              ns*nc*n is 1e8 or less, otherwise at
%                              index_min and index_1se only (p = 2)
%     prediction_index         1-by-p, the penalties of predictions' pages
%     path_W                   with WarmStart, the weights of the whole
%                              data's path, as dovex_path's W (for
%                              dovex_plot_path); [] without
%     fold                     ns-by-1, each sample's fold
%     fit_seconds              F-by-n, the time of each fold's fit
%     seconds                  the time of the whole call
%     engine, workers          what ran the fold fits ('serial',
%                              'parcellfun' or 'parfor') and how many
%                              processes; see dovex_path
%   dovex_predict(cv, Xnew) predicts with cv.model; dovex_predict(cv,
%   Xnew, 'min') and (cv, Xnew, '1se') with cv.model_min and cv.model_1se.
%
%   A fold's fit that fails does not stop the others: it is recorded as
%   above and warned about once (dovex_cv:fitFailed). Fits that stop at
%   MaxSweeps without converging, the refit included, are warned about
%   once, with their count and penalties (dovex:notConverged).
%
%   Errors: dovex_cv:notDouble, dovex_cv:notFinite, dovex_cv:sizeMismatch,
%   dovex_cv:badLabels, dovex_cv:oneClass, dovex_cv:badOption (also for a
%   class with fewer than two samples, more folds than samples or groups,
%   the measure 'auc' without two classes or without a fold holding out
%   both),
%   dovex_cv:classMissing (a fold whose training part lacks a class; the
%   message names the fold and the class), dovex_cv:noParallel, all
%   before any fit; dovex_cv:noFit when every
%   penalty has a failed fold, dovex_cv:diverged when the refit fails.
%
%   Example:
%       D = dlmread('data/digits.csv', ',', 1, 0);
%       cv = dovex_cv(D(:,1:end-1) / 16, D(:,end), 'Lambda1', [10 3 1]);
%       [cv.lambda1_min, cv.lambda1_1se]
%       dovex_plot_cv(cv);
%       labels = dovex_predict(cv, D(1:5,1:end-1) / 16);
%       % grouped folds (here 10 made-up sessions), chosen by balanced error
%       session = mod(0:size(D, 1)-1, 10)';
%       cv = dovex_cv(D(:,1:end-1) / 16, D(:,end), 'Groups', session, ...
%                     'Measure', 'balanced', 'Lambda1', logspace(1, -1, 5));
%       [~, held] = max(cv.predictions(:,:,cv.index_min), [], 2);
%       confusion = accumarray([D(:,end) + 1, held], 1)  % rows true, columns predicted
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
[opts, lambda1, lambda2, d, given] = path_options('dovex_cv', X, y, nc, varargin);
ns = numel(y);
counts = accumarray(y, 1, [nc 1]);
if any(counts < 2)
    error('dovex_cv:badOption', ...
          ['every class needs at least 2 samples for cross-validation; ', ...
           '%d classes have only one.'], nnz(counts < 2));
end
fold = folds_of(opts, given, ns, y, nc);
nfolds = max(fold);
if strcmp(opts.Measure, 'auc') && nc ~= 2
    error('dovex_cv:badOption', 'the measure ''auc'' is for two classes; there are %d.', nc);
end
for f = 1:nfolds
    missing = find(accumarray(y(fold ~= f), 1, [nc 1]) == 0, 1);
    if ~isempty(missing)
        error('dovex_cv:classMissing', ...
              'the training part of fold %d (the samples of the other folds) has no sample of class %s.', ...
              f, class_name(classes, missing));
    end
end
if strcmp(opts.Measure, 'auc') && ~any(arrayfun(@(f) numel(unique(y(fold == f))) == 2, 1:nfolds))
    error('dovex_cv:badOption', ['the measure ''auc'' needs a fold holding out both classes; ', ...
          'no fold does.']);
end

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

% The held-out measures; the loss weighs each sample as the fit does.
names = {'loss', 'error', 'balanced', 'auc'};
score = struct();
for i = 1:numel(names)
    score.(names{i}) = NaN(nfolds, n);
end
[accuracy, nnzs, fit_seconds, sweeps] = deal(zeros(nfolds, n));
[converged, failure] = deal(false(nfolds, n), cell(nfolds, n));
keep_all = ns * nc * n <= 1e8;
if keep_all
    predictions = NaN(ns, nc, n);
end
for f = 1:nfolds
    held = fold == f;
    Xh = X(held, :);
    for k = 1:n
        m = models{f, k};
        if isempty(m.failure)
            [v, P] = held_out(m, Xh, held, d, y);
            for i = 1:numel(names)
                score.(names{i})(f, k) = v(i);
            end
            accuracy(f, k) = v(5);
            if keep_all
                predictions(held, :, k) = P;
            end
        else
            accuracy(f, k) = NaN;
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

% The means over the folds whose fit did not fail (and, for the AUC, that
% hold out both classes).
ok = cellfun(@isempty, failure);
[means, ses] = deal(struct());
for i = 1:numel(names)
    v = score.(names{i});
    means.(names{i}) = fold_mean(v, ok & isfinite(v));
    ses.(names{i}) = fold_se(v, ok & isfinite(v), means.(names{i}));
end
if ~any(isfinite(means.loss))
    report_fits('dovex_cv', models, repmat(lambda1, nfolds, 1));
    error('dovex_cv:noFit', 'every fit failed; the first: %s.', failure{1});
end
% The choice on a measure where lower is better; ties go to the larger
% penalty, the sparser model.
direction = 1 - 2 * strcmp(opts.Measure, 'auc');
chooser = direction * means.(opts.Measure);
chooser(isnan(chooser)) = Inf;
best = find(chooser == min(chooser));
[~, i] = max(lambda1(best));
index_min = best(i);
within = find(chooser <= chooser(index_min) + ses.(opts.Measure)(index_min));
[~, i] = max(lambda1(within));
index_1se = within(i);
chosen = [index_min, index_1se];
refits = cell(1, 2);
for j = 1:2
    k = chosen(j);
    if j == 2 && index_1se == index_min
        refits{2} = refits{1};
    elseif opts.WarmStart
        refits{j} = whole{k};
    else
        model = fit_path('dovex_cv', d, lambda1(k), lambda2(k), opts.Seed + k - 1, opts, ...
                         false, false, '');
        refits{j} = model{1};
    end
end
j = 1 + strcmp(opts.Select, '1se');
if ~isempty(refits{j}.failure)
    error('dovex_cv:diverged', 'the refit at lambda1 %.4g failed: %s.', lambda1(chosen(j)), ...
          refits{j}.failure);
end
report_fits('dovex_cv', [models(:); refits(j)], ...
            [reshape(repmat(lambda1, nfolds, 1), [], 1); lambda1(chosen(j))]);
for i = 1:2
    refits{i} = rmfield(refits{i}, {'failure', 'failure_id'});
    refits{i}.classes = classes;
    refits{i}.feature_names = opts.FeatureNames;
end
model = refits{j};
if strcmp(opts.Display, 'final')
    fprintf('refit: %s\n', fit_summary(model));
end

% The whole data's path, for dovex_plot_path, when it was fitted.
path_W = [];
if opts.WarmStart
    path_W = cat(3, cellfun(@(m) m.W, whole, 'UniformOutput', false));
    path_W = cat(3, path_W{:});
end

% Beyond 1e8 values the held-out probabilities are kept at the two chosen
% penalties only, predicted again from the folds' fits there.
if keep_all
    prediction_index = 1:n;
else
    prediction_index = chosen;
    predictions = NaN(ns, nc, 2);
    for f = 1:nfolds
        held = fold == f;
        for j = 1:2
            if isempty(models{f, chosen(j)}.failure)
                [~, predictions(held, :, j)] = held_out(models{f, chosen(j)}, X(held, :), held, d, y);
            end
        end
    end
end

cv = struct('lambda1', lambda1, 'lambda2', lambda2, 'measure', opts.Measure, ...
    'loss', score.loss, 'accuracy', accuracy, 'error', score.error, ...
    'balanced', score.balanced, 'auc', score.auc, 'nnz', nnzs, ...
    'loss_mean', means.loss, 'loss_se', ses.loss, ...
    'accuracy_mean', fold_mean(accuracy, ok), ...
    'accuracy_se', fold_se(accuracy, ok, fold_mean(accuracy, ok)), ...
    'error_mean', means.error, 'error_se', ses.error, ...
    'balanced_mean', means.balanced, 'balanced_se', ses.balanced, ...
    'auc_mean', means.auc, 'auc_se', ses.auc, ...
    'nnz_mean', fold_mean(nnzs, ok), 'index_min', index_min, 'lambda1_min', lambda1(index_min), ...
    'index_1se', index_1se, 'lambda1_1se', lambda1(index_1se), 'select', opts.Select, ...
    'model', model, 'model_min', refits{1}, 'model_1se', refits{2}, ...
    'predictions', predictions, 'prediction_index', prediction_index, 'path_W', path_W, ...
    'fold', fold, 'sweeps', sweeps, 'converged', converged, ...
    'failure', {failure}, 'fit_seconds', fit_seconds, 'seconds', [], ...
    'engine', engine, 'workers', workers);
cv.seconds = toc(t0);
end

% The folds: FoldId's as given (numbered in the order of its values),
% whole groups, or stratified.
function fold = folds_of(opts, given, ns, y, nc)
id = 'dovex_cv:badOption';
if isfield(given, 'FoldId') && (isfield(given, 'Groups') || isfield(given, 'Folds'))
    error(id, 'give ''FoldId'' alone, without ''Groups'' or ''Folds''.');
end
if isfield(given, 'FoldId')
    if numel(opts.FoldId) ~= ns
        error(id, 'option ''FoldId'' must have %d values, one per sample; it has %d.', ...
              ns, numel(opts.FoldId));
    end
    [~, ~, fold] = unique(opts.FoldId);
    fold = fold(:);
    if max(fold) < 2
        error(id, 'option ''FoldId'' must name at least 2 folds; it names 1.');
    end
elseif isfield(given, 'Groups')
    g = opts.Groups;
    if numel(g) ~= ns
        error(id, 'option ''Groups'' must have %d labels, one per sample; it has %d.', ...
              ns, numel(g));
    end
    if max(g) < opts.Folds
        error(id, 'there are %d groups, fewer than the %d folds; set ''Folds''.', ...
              max(g), opts.Folds);
    end
    fold = group_folds(g, opts.Folds, opts.Seed);
else
    if opts.Folds > ns
        error(id, 'option ''Folds'' is %d, more than the %d samples.', opts.Folds, ns);
    end
    fold = stratified_folds(y, opts.Folds, opts.Seed);
end
end

% A fold's fit on its held-out samples Xh (X(held, :)): the measures
% [loss, error, balanced, auc, accuracy] and the class probabilities (the
% offset included).
function [v, P] = held_out(m, Xh, held, d, y)
% dovex_predict's scores, without its checks of X, which the data's passed,
% and from the features with a weight alone: on a brain-like shape one in a
% hundred.
nd = size(Xh, 2);
k = find(any(m.W(1:nd, :) ~= 0, 2));
scores = full(Xh(:, k) * m.W(k, :));
if m.bias
    scores = bsxfun(@plus, scores, m.W(end, :));
end
[P, logP] = log_softmax(scores + d.offset(held, :));
yh = y(held);
s = d.weights(held);
nh = numel(yh);
truth = sub2ind(size(logP), (1:nh)', yh);
loss = -(s' * logP(truth)) / sum(s);
[~, predicted] = max(logP, [], 2);
err = mean(predicted ~= yh);
present = unique(yh);
recall = arrayfun(@(c) mean(predicted(yh == c) == c), present);
auc = NaN;
if size(P, 2) == 2 && numel(present) == 2
    % The rank-sum form: each (positive, negative) pair ordered right
    % counts 1, a tie 1/2.
    t = logP(:, 2) - logP(:, 1);
    [~, order] = sort(t);
    r = zeros(nh, 1);
    r(order) = 1:nh;
    [~, ~, tie] = unique(t);
    r = accumarray(tie, r) ./ accumarray(tie, 1);
    r = r(tie);
    pos = yh == 2;
    np = nnz(pos);
    auc = (sum(r(pos)) - np * (np + 1) / 2) / (np * (nh - np));
end
v = [loss, err, 1 - mean(recall), auc, mean(predicted == yh)];
end

% A class as the messages write it.
function s = class_name(classes, c)
if iscell(classes)
    s = ['''' classes{c} ''''];
elseif ischar(classes)
    s = ['''' classes(c, :) ''''];
elseif isnumeric(classes) || islogical(classes)
    s = num2str(double(classes(c)));
else
    s = ['''' char(classes(c)) ''''];
end
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

%!test  # Groups: no group split, leave-one-group-out; FoldId kept exactly
%! g = mod ((0:149)', 7);                 # 7 groups, each with every class
%! cv = dovex_cv (X, label, "Groups", g, "Folds", 3, "Lambda1", [5 0.5], "Parallel", false);
%! for j = 0:6
%!   assert (numel (unique (cv.fold(g == j))), 1);
%! endfor
%! sizes = accumarray (cv.fold, 1);
%! assert (max (sizes) - min (sizes) <= 22);   # one group at most
%! logo = dovex_cv (X, label, "Groups", num2cell (char ("a" + g), 2), "Folds", 7, ...
%!                  "Lambda1", [5 0.5], "Parallel", false);
%! assert (numel (unique (logo.fold)), 7);
%! assert (size (unique ([logo.fold, g], "rows"), 1), 7);   # one group a fold, one fold a group
%! id = 1 + mod ((0:149)' * 5, 4);
%! given = dovex_cv (X, label, "FoldId", id, "Lambda1", [5 0.5], "Parallel", false, "WarmStart", false);
%! assert (given.fold, id);
%! f = 3;
%! m = dovex_train (X(id != f,:), label(id != f), "Lambda1", 0.5, "Lambda2", 0.05, "Seed", 1, ...
%!                  "Display", "off");
%! [~, P] = dovex_predict (m, X(id == f,:));
%! assert (given.predictions(id == f,:,2), P, 1e-12);

%!test  # every measure against its direct computation from the held-out probabilities
%! two = label > 0;
%! for measure = {"loss", "error", "balanced", "auc"}
%!   cv = dovex_cv (X(:,1:2), two, "Lambda1", [20 2 0.2 0.02], "Folds", 3, "Measure", measure{1}, ...
%!                  "Parallel", false);
%!   assert (cv.measure, measure{1});
%!   assert (size (cv.predictions), [150 2 4]);
%!   assert (cv.prediction_index, 1:4);
%!   for f = 1:3
%!     for k = 1:4
%!       held = cv.fold == f;
%!       P = cv.predictions(held,:,k);
%!       t = two(held) + 1;
%!       assert (cv.loss(f,k), -mean (log (P(sub2ind (size (P), (1:rows (P))', t)))), 1e-12);
%!       [~, p] = max (P, [], 2);
%!       assert (cv.error(f,k), mean (p != t));
%!       assert (cv.balanced(f,k), 1 - (mean (p(t == 1) == 1) + mean (p(t == 2) == 2)) / 2, 1e-15);
%!       d = P(t == 2, 2) - P(t == 1, 2)';      # every (positive, negative) pair
%!       assert (cv.auc(f,k), mean ((d(:) > 0) + (d(:) == 0) / 2), 1e-12);
%!     endfor
%!   endfor
%!   m = cv.([measure{1} "_mean"]);
%!   assert (m, mean (cv.(measure{1})), 1e-15);
%!   if (strcmp (measure{1}, "auc"))
%!     assert (m(cv.index_min), max (m));
%!     assert (all (m(cv.lambda1 > cv.lambda1_1se) < max (m) - cv.auc_se(cv.index_min)));
%!   else
%!     assert (m(cv.index_min), min (m));
%!   endif
%! endfor
%! ## the error of three classes is 1 - accuracy; AUC is not defined for them
%! cv = dovex_cv (X, label, "Lambda1", [5 0.5], "Folds", 3, "Parallel", false);
%! assert (cv.error, 1 - cv.accuracy, 1e-15);
%! assert (all (isnan (cv.auc(:))));

%!test  # dovex_predict at either choice: the whole data's path at that penalty
%! grid = [40 10 3 1 0.3 0.1];
%! p = dovex_path (X, label, "Lambda1", grid, "Parallel", false);
%! for warm = [true false]
%!   cv = dovex_cv (X, label, "Lambda1", grid, "Folds", 3, "Parallel", false, "WarmStart", warm);
%!   assert (cv.index_min != cv.index_1se);
%!   cold = dovex_path (X, label, "Lambda1", grid, "Parallel", false, "WarmStart", warm);
%!   [~, P] = dovex_predict (cv, X, "1se");
%!   [~, Q] = dovex_predict (cold, X, cv.index_1se);
%!   assert (bits_of (P), bits_of (Q));
%!   [~, P] = dovex_predict (cv, X, "MIN");
%!   [~, Q] = dovex_predict (cold, X, cv.index_min);
%!   assert (bits_of (P), bits_of (Q));
%! endfor
%! assert (dovex_predict (cv, X), dovex_predict (cv, X, "min"));

%!error <training part of fold 1 .* no sample of class 0> dovex_cv (X, label, "FoldId", 1 + (label == 2))
%!error id=dovex_cv:classMissing dovex_cv (X, label, "Groups", label, "Folds", 3)
%!error id=dovex_cv:badOption dovex_cv (X, label, "FoldId", ones (150, 1))
%!error id=dovex_cv:badOption dovex_cv (X, label, "FoldId", [1 2 3])
%!error id=dovex_cv:badOption dovex_cv (X, label, "FoldId", 1 + mod (1:150, 3), "Folds", 3)
%!error id=dovex_cv:badOption dovex_cv (X, label, "FoldId", 0.5 + mod (1:150, 3))
%!error id=dovex_cv:badOption dovex_cv (X, label, "Groups", mod (1:150, 4))
%!error id=dovex_cv:badOption dovex_cv (X, label, "Groups", [1 2])
%!error id=dovex_cv:badOption dovex_cv (X, label, "Measure", "auc")
%!error id=dovex_cv:badOption dovex_cv (X, label, "Measure", "recall")
%!error id=dovex_predict:badIndex dovex_predict (dovex_cv (X, label, "Lambda1", 1, "Folds", 2), X, 1)
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
