%DOVEX_TRAIN  Fit a sparse multinomial logistic regression classifier.
%   model = DOVEX_TRAIN(X, labels) fits one weight column per class to the
%   samples in the rows of X, under an L1 penalty that sets most weights to
%   exactly zero and an L2 penalty, by one dovex_fit call from the all-zero
%   start. model = DOVEX_TRAIN(X, labels, Name, Value, ...) sets options.
%   Predict with dovex_predict(model, Xnew).
%
%   X        ns-by-nd real double matrix, one row per sample; finite; full
%            or sparse. A sparse X stays sparse throughout (Standardize
%            divides its stored values) and gives the W of full(X).
%   labels   one class per sample: a numeric or logical vector, a char
%            matrix with one row per sample, a cell array of char vectors,
%            or (in MATLAB) a string or categorical array. The classes are
%            the sorted unique labels, of the labels' own type; there must
%            be at least two.
%
%   Options (names in any case):
%     'Lambda1'      L1 penalty weight; default 0.05 * lambda1_max, where
%                    lambda1_max is the smallest lambda1 at which every
%                    weight stays zero.
%     'Lambda2'      L2 penalty weight; default Lambda1 / 10.
%     'Tol'          stop once a sweep changes W by Tol or less, relative to
%                    W (the diff of the progress lines); default 1e-4.
%     'MaxSweeps'    largest number of sweeps; default 1000.
%     'Bias'         true (default) appends a constant column of ones to X,
%                    whose weights (the last row of W) are each class's
%                    bias. The bias is penalised like any other weight.
%     'Standardize'  true divides each column of X by its standard
%                    deviation for the fit (no centring, so zeros stay
%                    zeros; a column without spread is left as it is). W is
%                    reported in the units of X, so dovex_predict takes X as
%                    it is. Default false.
%     'Offset'       ns-by-nc fixed scores added to X*W throughout, such as
%                    an earlier model's (the XW of dovex_fit); default none.
%                    dovex_predict does not add it: add it to its scores.
%     'Seed'         when given, dovex_seed(Seed) runs right before the fit,
%                    which then gives the same bits every time; default none
%                    (the fit continues the C runtime's rand() sequence).
%     'Display'      'sweeps' (default) shows a line naming the fit, then
%                    dovex_fit's progress lines as they come; 'final' one
%                    summary line after the fit; 'off' nothing.
%
%   model is a struct:
%     W            (nd+1)-by-nc weights, the bias row last (nd-by-nc
%                  without the bias), in the units of X
%     classes      the classes, in the order of the columns of W
%     bias, scale  whether a bias row was fitted; the divisors of the
%                  columns of X (1-by-nd) when standardised, else []
%     lambda1, lambda2, lambda1_max, tol, max_sweeps, seed
%                  the settings of the fit (seed [] when none was set)
%     sweeps       how many sweeps ran
%     diffs        each sweep's diff, as printed (4 decimals; NaN while W
%                  is all zero)
%     converged    true when the fit stopped before MaxSweeps (its last
%                  diff was Tol or less, or W stayed all zero), or its last
%                  printed diff is Tol or less
%     objective    the penalised log-likelihood the fit maximises, at W:
%                  sum of log P(class of each sample) - lambda1*sum(|W|)
%                  - lambda2/2*sum(W.^2), over the fit's own (standardised)
%                  weights, computed with log-sum-exp
%     nnz          the number of non-zero weights
%     fit_seconds  the time of the dovex_fit call
%
%   A fit whose scores overflow exp (features of very large magnitude with
%   small penalties) raises dovex_train:diverged rather than return a W of
%   NaN: standardise X or raise the penalties.
%
%   Errors: dovex_train:notDouble, dovex_train:notFinite (NaN or Inf in X),
%   dovex_train:sizeMismatch, dovex_train:badLabels, dovex_train:oneClass,
%   dovex_train:badOption, dovex_train:offsetOverflow, dovex_train:diverged.
%
%   Example:
%       D = dlmread('data/iris.csv', ',', 1, 0);   % features, then class
%       model = dovex_train(D(:,1:end-1), D(:,end), 'Seed', 1, 'Display', 'final');
%       predicted = dovex_predict(model, D(:,1:end-1));
%       mean(predicted == D(:,end))                 % training accuracy
%
%   dovex version: unreleased sources
%
%   See also DOVEX_PREDICT, DOVEX_PATH, DOVEX_CV, DOVEX_SEED, DOVEX_FIT.

function model = dovex_train(X, labels, varargin)
if nargin < 2
    error('dovex_train:badOption', 'usage: model = dovex_train(X, labels, Name, Value, ...)');
end
[X, y, classes] = check_data('dovex_train', X, labels);
opts = parse_options('dovex_train', varargin, {'Lambda1', 'Lambda2', 'Tol', 'MaxSweeps', ...
    'Bias', 'Standardize', 'Offset', 'Seed', 'Display'});
opts = with_defaults(opts, struct('Lambda1', [], 'Lambda2', [], 'Tol', 1e-4, ...
    'MaxSweeps', 1000, 'Bias', true, 'Standardize', false, 'Offset', [], 'Seed', [], ...
    'Display', 'sweeps'));
nc = max(y);
d = design('dovex_train', X, y, nc, opts);

lambda1 = opts.Lambda1;
if isempty(lambda1)
    lambda1 = 0.05 * d.lambda1_max;
end
lambda2 = opts.Lambda2;
if isempty(lambda2)
    lambda2 = lambda1 / 10;
end

if ~isempty(opts.Seed)
    dovex_seed(opts.Seed);
end
args = {d.X, d.Y, d.XW, d.E, d.Z, lambda1, lambda2, opts.Tol, opts.MaxSweeps};
t0 = tic;
header = sprintf('dovex_train: %d samples, %d features, %d classes; lambda1 %.4g, lambda2 %.4g', ...
                 size(X, 1), size(X, 2), nc, lambda1, lambda2);
[Wd, text] = run_fit(strcmp(opts.Display, 'sweeps'), header, args);
fit_seconds = toc(t0);
if ~all(isfinite(Wd(:)))
    error('dovex_train:diverged', ...
          ['the fit overflowed: some scores went beyond what exp can take and W turned ', ...
           'to NaN. Standardize X or raise the penalties.']);
end

tokens = regexp(text, 'sweep : \d+, diff : (\S+)', 'tokens');
diffs = zeros(1, numel(tokens));
for k = 1:numel(tokens)
    diffs(k) = parse_number(tokens{k}{1});
end
sweeps = numel(diffs);

W = Wd;
if ~isempty(d.scale)
    W(1:numel(d.scale), :) = bsxfun(@rdivide, Wd(1:numel(d.scale), :), d.scale');
end
[~, logP] = log_softmax(d.XW + d.X * Wd);
loglik = sum(logP(sub2ind(size(logP), (1:numel(y))', y)));
objective = loglik - lambda1 * sum(abs(Wd(:))) - lambda2 / 2 * sum(Wd(:).^2);

model = struct('W', W, 'classes', {classes}, 'bias', opts.Bias, 'scale', d.scale, ...
    'lambda1', lambda1, 'lambda2', lambda2, 'lambda1_max', d.lambda1_max, ...
    'tol', opts.Tol, 'max_sweeps', opts.MaxSweeps, 'seed', opts.Seed, ...
    'sweeps', sweeps, 'diffs', diffs, ...
    'converged', sweeps < opts.MaxSweeps || (sweeps > 0 && diffs(end) <= opts.Tol), ...
    'objective', objective, 'nnz', nnz(W), 'fit_seconds', fit_seconds);
if strcmp(opts.Display, 'final')
    fprintf('%s\n', fit_summary(model));
end
end

% A printed diff: C's printf writes nan, -nan, inf as it likes.
function v = parse_number(s)
if ~isempty(regexpi(s, 'nan', 'once'))
    v = NaN;
else
    v = str2double(s);
end
end

%!function D = bundled (name)
%!  ## ctest names the data folder; an installed copy keeps it beside itself
%!  here = fileparts (which ("dovex_train"));
%!  for d = {getenv("DOVEX_DATA_DIR"), fullfile(here, "data"), fullfile(here, "..", "data")}
%!    file = fullfile (d{1}, [name ".csv"]);
%!    if (! isempty (d{1}) && exist (file, "file"))
%!      D = dlmread (file, ",", 1, 0);
%!      return;
%!    endif
%!  endfor
%!  error ("bundled data %s.csv not found", name);
%!endfunction

%!function [X, label] = digits ()
%!  D = bundled ("digits");
%!  [X, label] = deal (D(:,1:end-1) / 16, D(:,end));
%!endfunction

%!function bits = bits_of (W)
%!  bits = typecast (W(:), "uint64");
%!endfunction

%!shared X, label, Y, ns
%! D = bundled ("iris");
%! [X, label] = deal (D(:,1:4), D(:,5));
%! ns = rows (X);
%! Y = full (sparse ((1:ns)', label + 1, 1, ns, 3));

%!test  # the same bits as the dovex_fit call it stands for, from the same seed
%! model = dovex_train (X, label, "Seed", 5, "Display", "off", "MaxSweeps", 300);
%! Xb = [X, ones(ns, 1)];
%! lambda1_max = max (max (abs (Xb' * (Y - 1/3))));
%! assert (model.lambda1_max, lambda1_max, 1e-12 * lambda1_max);
%! assert (model.lambda1, 0.05 * model.lambda1_max);
%! assert (model.lambda2, model.lambda1 / 10);
%! dovex_seed (5);
%! text = evalc ("W = dovex_fit (Xb, Y, zeros (ns, 3), ones (ns, 3), 3 * ones (ns, 1), model.lambda1, model.lambda2, 1e-4, 300);");
%! assert (bits_of (model.W), bits_of (W));
%! ## what the model says about the fit is what the fit printed
%! assert (model.diffs, cellfun (@(t) str2double (t), regexp (text, 'diff : (\S+)', "tokens")));
%! assert (model.sweeps, numel (strfind (text, "sweep :")));
%! assert (model.converged, model.sweeps < 300);
%! assert (model.nnz, nnz (W));
%! assert ([model.bias, model.tol, model.max_sweeps, model.seed], [true, 1e-4, 300, 5]);
%! assert (model.classes, [0; 1; 2]);
%! assert (isempty (model.scale));

%!test  # lambda1_max is the edge: at it nothing moves, just below it something does
%! m = dovex_train (X, label, "Display", "off", "Seed", 1);
%! at = dovex_train (X, label, "Lambda1", m.lambda1_max * (1 + 1e-9), "Display", "off", "Seed", 1);
%! assert (at.nnz, 0);
%! assert (at.sweeps, 1);
%! assert (isnan (at.diffs));
%! assert (at.converged);
%! below = dovex_train (X, label, "Lambda1", m.lambda1_max * 0.99, "Display", "off", "Seed", 1);
%! assert (below.nnz > 0);

%!test  # Bias false fits X alone; Lambda2 and Tol are passed through
%! m = dovex_train (X, label, "Bias", false, "Lambda1", 1, "Lambda2", 0.25, "Tol", 1e-3, "Seed", 2, "Display", "off");
%! dovex_seed (2);
%! evalc ("W = dovex_fit (X, Y, zeros (ns, 3), ones (ns, 3), 3 * ones (ns, 1), 1, 0.25, 1e-3, 1000);");
%! assert (size (m.W), [4 3]);
%! assert (bits_of (m.W), bits_of (W));
%! assert ([m.lambda1, m.lambda2, m.bias], [1, 0.25, false]);

%!test  # Standardize fits X ./ std(X) and reports W in the units of X
%! m = dovex_train (X, label, "Standardize", true, "Seed", 3, "Display", "off");
%! s = std (X);
%! assert (m.scale, s, 1e-15 * max (s));
%! Xs = [X ./ m.scale, ones(ns, 1)];
%! dovex_seed (3);
%! evalc ("W = dovex_fit (Xs, Y, zeros (ns, 3), ones (ns, 3), 3 * ones (ns, 1), m.lambda1, m.lambda2, 1e-4, 1000);");
%! assert (m.W(1:4,:) .* m.scale', W(1:4,:), 1e-13 * max (abs (W(:))));
%! assert (bits_of (m.W(5,:)), bits_of (W(5,:)));
%! [~, ~, scores] = dovex_predict (m, X);
%! assert (scores, Xs * W, 1e-12 * max (abs (scores(:))));

%!test  # Offset is the fit's XW, with E and Z formed for it
%! O = (X(:,[1 2 3]) - 4) / 3;
%! m = dovex_train (X, label, "Offset", O, "Seed", 4, "Display", "off", "MaxSweeps", 50);
%! E = exp (O);
%! dovex_seed (4);
%! evalc ("W = dovex_fit ([X, ones(ns, 1)], Y, O, E, sum (E, 2), m.lambda1, m.lambda2, 1e-4, 50);");
%! assert (bits_of (m.W), bits_of (W));
%! ## lambda1_max measured from the offset's probabilities
%! P0 = E ./ sum (E, 2);
%! assert (m.lambda1_max, max (max (abs ([X, ones(ns, 1)]' * (Y - P0)))), 1e-12 * m.lambda1_max);

%!test  # a sparse X: the bits of the full fit; standardised, its stored values divided
%! S = sparse (X .* (X > 2));
%! full_fit = dovex_train (full (S), label, "Lambda1", 2, "Seed", 5, "Display", "off", "MaxSweeps", 100);
%! m = dovex_train (S, label, "Lambda1", 2, "Seed", 5, "Display", "off", "MaxSweeps", 100);
%! assert (bits_of (m.W), bits_of (full_fit.W));
%! assert ([m.sweeps, m.nnz], [full_fit.sweeps, full_fit.nnz]);
%! assert (m.objective, full_fit.objective, 1e-12 * abs (full_fit.objective));
%! assert (m.lambda1_max, full_fit.lambda1_max, 1e-12 * full_fit.lambda1_max);
%! m = dovex_train (S, label, "Standardize", true, "Seed", 3, "Display", "off");
%! assert (m.scale, std (full (S)), 1e-14 * max (std (full (S))));
%! Ss = [full(S) ./ m.scale, ones(ns, 1)];
%! dovex_seed (3);
%! evalc ("W = dovex_fit (Ss, Y, zeros (ns, 3), ones (ns, 3), 3 * ones (ns, 1), m.lambda1, m.lambda2, 1e-4, 1000);");
%! assert (bits_of (m.W(5,:)), bits_of (W(5,:)));
%! assert (m.W(1:4,:) .* m.scale', W(1:4,:), 1e-13 * max (abs (W(:))));
%! standardised = dovex_train (full (S), label, "Standardize", true, "Seed", 3, "Display", "off");
%! assert (bits_of (m.scale), bits_of (standardised.scale));
%! assert (bits_of (m.W), bits_of (standardised.W));

%!test  # a sparse X of 60000 x 50000, 24 GB if it were full, is never made full
%! [n, nd] = deal (60000, 50000);
%! k = (1:2000)';
%! S = sparse (k, mod (k - 1, 10) + 1, 1 + mod (k, 3), n, nd);
%! odd = mod ((1:n)', 2);
%! m = dovex_train (S, odd, "Standardize", true, "MaxSweeps", 3, "Seed", 1, "Display", "off");
%! assert (size (m.W), [nd + 1, 2]);
%! assert (nnz (m.W(11:nd,:)), 0);
%! W10 = m.W(1:10,:);
%! assert (all (W10(:) != 0));
%! assert (m.scale(11:end), ones (1, nd - 10));
%! [predicted, P] = dovex_predict (m, S(1:20,:));
%! assert (predicted, odd(1:20));
%! assert (size (P), [20 2]);

%!test  # Lambda2 = 0: a feature that is zero throughout stays at zero, not NaN, and W is the direct call's
%! Xz = [X(:,1:2), zeros(ns, 1), X(:,3:4)];
%! m = dovex_train (Xz, label, "Lambda1", 1, "Lambda2", 0, "Seed", 6, "Display", "off");
%! assert (all (isfinite (m.W(:))));
%! assert (m.W(3,:), [0 0 0]);
%! dovex_seed (6);
%! evalc ("W = dovex_fit ([Xz, ones(ns, 1)], Y, zeros (ns, 3), ones (ns, 3), 3 * ones (ns, 1), 1, 0, 1e-4, 1000);");
%! assert (bits_of (m.W), bits_of (W));

%!test  # a fit whose scores overflow exp is an error, not a W of NaN
%! O = repmat ([709, 708.9], 3, 1);
%! try
%!   dovex_train (zeros (3, 1), [1; 1; 2], "Offset", O, "Lambda1", 0, "Lambda2", 1e-3, "Display", "off");
%!   error ("no error");
%! catch err
%!   assert (err.identifier, "dovex_train:diverged");
%! end_try_catch

%!test  # Display: the lines as they come, one summary line, or nothing
%! out = evalc ('m = dovex_train (X, label, "MaxSweeps", 3, "Tol", -1);');
%! lines = strsplit (strtrim (out), "\n");
%! assert (numel (lines), 4);
%! assert (regexp (lines{1}, '^dovex_train: 150 samples, 4 features, 3 classes; lambda1 '));
%! assert (lines{2}, "sweep : 1, diff : 1.0000");
%! assert (m.sweeps, 3);
%! assert (! m.converged);
%! out = evalc ('m = dovex_train (X, label, "MaxSweeps", 3, "Display", "final");');
%! assert (regexp (out, '^lambda1 [0-9.]+, lambda2 [0-9.]+: 3 sweeps, not converged, \d+ of 15 weights non-zero, [0-9.]+ s\n$'));
%! assert (evalc ('m = dovex_train (X, label, "MaxSweeps", 3, "Display", "off");'), "");

%!test  # the lines reach the screen and a diary the user keeps, as they come
%! log = [tempname() ".txt"];
%! unwind_protect
%!   diary (log);
%!   m = dovex_train (X, label, "MaxSweeps", 2, "Tol", -1);
%!   disp ("after the fit");
%!   diary ("off");
%!   text = fileread (log);
%! unwind_protect_cleanup
%!   diary ("off");
%!   delete (log);
%! end_unwind_protect
%! assert (m.diffs(1), 1);
%! assert (numel (m.diffs), 2);
%! assert (regexp (text, 'dovex_train: .*\nsweep : 1, diff : 1\.0000\nsweep : 2, diff : \S+\nafter the fit'));

%!test  # monotone ascent on digits: the bound optimisation never lowers the objective
%! [Xd, ld] = digits ();
%! k = 2 .^ (0:8);
%! objective = zeros (size (k));
%! for i = 1:numel (k)
%!   m = dovex_train (Xd, ld, "Seed", 11, "MaxSweeps", k(i), "Tol", -1, "Display", "off");
%!   assert (m.sweeps, k(i));
%!   objective(i) = m.objective;
%! endfor
%! rise = diff (objective);
%! assert (all (rise >= -1e-12 * abs (objective(2:end))), "objective fell: %s", mat2str (objective, 16));
%! ## and the fit gets somewhere: the last is far above the first
%! assert (objective(end) - objective(1) > 0.3 * abs (objective(1)));

% Errors, each identified, before any fit
%!error id=dovex_train:notDouble dovex_train (single (X), label)
%!error id=dovex_train:notDouble dovex_train (X + 1i, label)
%!error id=dovex_train:notDouble dovex_train (int8 (X), label)
%!error id=dovex_train:notFinite dovex_train ([X(1:end-1,:); NaN 1 1 1], label)
%!error id=dovex_train:notFinite dovex_train ([X(1:end-1,:); Inf 1 1 1], label)
%!error id=dovex_train:sizeMismatch dovex_train (X, label(1:end-1))
%!error id=dovex_train:sizeMismatch dovex_train (X, ["a"; "b"])
%!error id=dovex_train:badLabels dovex_train (X, [label(1:end-1); NaN])
%!error id=dovex_train:badLabels dovex_train (X, [num2cell(label(1:end-1)); {"a"}])
%!error id=dovex_train:badLabels dovex_train (X, num2cell (label))
%!error id=dovex_train:badLabels dovex_train (X(1:4,:), [1 2; 1 2])
%!error id=dovex_train:badLabels dovex_train (X(1:2,:), struct ("a", {1; 2}))
%!error id=dovex_train:oneClass dovex_train (X, ones (ns, 1))
%!error id=dovex_train:oneClass dovex_train (zeros (0, 4), [])
%!error id=dovex_train:badOption dovex_train (X)
%!error id=dovex_train:badOption dovex_train (X, label, "Lambda1")
%!error id=dovex_train:badOption dovex_train (X, label, "Lamda1", 1)
%!error id=dovex_train:badOption dovex_train (X, label, 3, 1)
%!error id=dovex_train:badOption dovex_train (X, label, "Lambda1", 1, "lambda1", 2)
%!error id=dovex_train:badOption dovex_train (X, label, "Lambda1", -1)
%!error id=dovex_train:badOption dovex_train (X, label, "Lambda1", [1 2])
%!error id=dovex_train:badOption dovex_train (X, label, "Lambda2", NaN)
%!error id=dovex_train:badOption dovex_train (X, label, "Tol", Inf)
%!error id=dovex_train:badOption dovex_train (X, label, "MaxSweeps", 0)
%!error id=dovex_train:badOption dovex_train (X, label, "MaxSweeps", 2.5)
%!error id=dovex_train:badOption dovex_train (X, label, "Bias", "yes")
%!error id=dovex_train:badOption dovex_train (X, label, "Standardize", 2)
%!error id=dovex_train:badOption dovex_train (X, label, "Seed", -1)
%!error id=dovex_train:badOption dovex_train (X, label, "Seed", 2^32)
%!error id=dovex_train:badOption dovex_train (X, label, "Display", "loud")
%!error id=dovex_train:badOption dovex_train (X, label, "Offset", zeros (ns, 2))
%!error id=dovex_train:badOption dovex_train (X, label, "Offset", NaN (ns, 3))
%!error id=dovex_train:offsetOverflow dovex_train (X, label, "Offset", 710 * ones (ns, 3))
%!error <option 'Lambda1' must be a finite scalar of 0 or more> dovex_train (X, label, "lambda1", -1)
%!error <'Lamda1' is not an option of dovex_train; its options are Lambda1, Lambda2,> dovex_train (X, label, "Lamda1", 1)
%!error <X must be a real double matrix, one row per sample; it is 150x4 single> dovex_train (single (X), label)
%!error <labels must have 150 labels, one per row of X; it has 149> dovex_train (X, label(1:end-1))
