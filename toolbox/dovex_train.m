%DOVEX_TRAIN  Fit a sparse multinomial logistic regression classifier.
%   model = DOVEX_TRAIN(X, labels) fits one weight column per class to the
%   samples in the rows of X, with an intercept per class, under an L1
%   penalty that sets most weights to exactly zero and an L2 penalty, by
%   one dovex_solve call from the null model (see below). model =
%   DOVEX_TRAIN(X, labels, Name, Value, ...) sets options. Predict with
%   dovex_predict(model, Xnew).
%
%   X        ns-by-nd real double matrix, one row per sample; finite; full
%            or sparse. A sparse X stays sparse throughout.
%   labels   one class per sample: a numeric or logical vector (finite), a
%            char matrix with one row per sample, a cell array of char
%            vectors, or (in MATLAB) a string or categorical array. The
%            classes are the sorted unique labels, of the labels' own type;
%            there must be at least two.
%
%   What is fitted. The fit maximises, over the weights W of the features
%   and the intercepts b (one per class),
%       sum_k s_k log P(class of sample k)
%         - sum_i f_i (lambda1 * sum_j |W(i,j)| + lambda2/2 * sum_j W(i,j)^2)
%   where P is the softmax of the scores X*W + b (plus any Offset), s_k
%   the sample weights (Weights times ClassWeight, 1 by default) and f_i
%   the penalty factors (PenaltyFactor, 1 by default). The intercepts are
%   not penalised. With Standardize (the default) the penalty applies to
%   the weights of the standardised features, as the objective says; W is
%   reported in the units of X all the same. The fit starts from the null
%   model: no feature, and the intercepts (the logarithms of the weighted
%   class frequencies) that give each class its training frequency.
%
%   Options (names in any case):
%     'Lambda1'      the L1 penalty; default 0.05 * lambda1_max, where
%                    lambda1_max is the smallest lambda1 at which every
%                    feature's weight stays zero (at the null model:
%                    the largest |X(:,i)' * (s .* (Y(:,j) - P0(:,j)))| / f_i
%                    over the features of factor above 0 and the classes,
%                    for the standardised X, one-hot targets Y and the null
%                    model's probabilities P0).
%     'Lambda2'      the L2 penalty; default Lambda1 / 10.
%     'Tol'          stop once the objective is within Tol of its optimum,
%                    relative, as its optimality conditions say; 0 or more,
%                    default 1e-7. The fit is dovex_solve's optimum method:
%                    its block method in rounds of 2, 4, 8, ... up to 32
%                    sweeps, on the features with a weight or whose
%                    condition fails (the others are checked at the end,
%                    and join when theirs fails). After each round,
%                    every feature's class weights move by the one number
%                    that lowers its penalty most (which changes no
%                    probability), and the conditions of the optimum are
%                    checked: for each weight w, with g the log-likelihood's
%                    gradient, r is how far g is from lambda1*f*sign(w) +
%                    lambda2*f*w (w not zero), or beyond lambda1*f (w zero).
%                    Once the r of the weights taken one at a time say the
%                    fit is within Tol, or after the first round when the
%                    zero weights are nearly settled, the weights not zero
%                    and those with r above zero are taken together: the
%                    Newton step of the objective in them, each sign held,
%                    gains q'*x/2 (q the r with their signs, x the step).
%                    That gain over |objective| is the distance to the
%                    optimum the fit reports (model.gap); the fit has
%                    converged when it is Tol or less. A step that raises
%                    the objective is taken, the last one too, so that fits
%                    on correlated features end in a few steps where sweeps
%                    alone would take hundreds, and usually far inside Tol.
%     'MaxSweeps'    the largest number of sweeps; default 1000. A fit that
%                    stops there without converging warns (dovex:notConverged).
%     'Bias'         true (default) fits an unpenalised intercept per class,
%                    the last row of W; false fits X*W alone.
%     'Standardize'  true (default): for the fit, a full X is centred and
%                    each column divided by its standard deviation (its
%                    plain, unweighted mean and deviation, normalised by
%                    ns - 1); a sparse X is divided only, since centring
%                    would make it full, and so is any X with Bias false,
%                    which has no intercept to take up the centring. A column without spread gets weight
%                    zero and a note. W is reported in the units of X, the
%                    centring folded into the intercepts, so dovex_predict
%                    takes X as it is. false fits X as it is.
%     'Weights'      one weight of 0 or more per sample; default all 1.
%     'ClassWeight'  one weight of 0 or more per class (in the order of
%                    model.classes), each sample weighted by its class's, or
%                    'balanced': ns / (nc * the class's number of samples),
%                    as scikit-learn defines it. Default none.
%     'PenaltyFactor'  one factor of 0 or more per column of X, multiplying
%                    both penalties of its weights (0 leaves it
%                    unpenalised); default all 1.
%     'Offset'       ns-by-nc fixed scores added to X*W throughout, such as
%                    an earlier model's; default none. dovex_predict does
%                    not add it: add it to its scores.
%     'FeatureNames' a name per column of X (a cell array of char vectors
%                    or a string array), kept as model.feature_names for
%                    dovex_features; default none.
%     'Seed'         when given, dovex_seed(Seed) runs right before the fit,
%                    which then gives the same bits every time; default none
%                    (the fit continues the C runtime's rand() sequence).
%     'Display'      'sweeps' (default) shows a line naming the fit, then
%                    dovex_solve's progress lines as they come; 'final' one
%                    summary line after the fit; 'off' nothing. Notes (a
%                    column without spread) are printed but with 'off'.
%
%   model is a struct:
%     W            (nd+1)-by-nc weights, the intercepts last (nd-by-nc
%                  without Bias), in the units of X
%     classes      the classes, in the order of the columns of W
%     feature_names  FeatureNames, nd-by-1, or [] without it
%     bias         whether intercepts were fitted
%     center, scale  1-by-nd, what was subtracted from each column of X
%                  and what it was divided by for the fit (center zeros
%                  for a sparse X or without Bias; scale 1 for a column
%                  without spread), or [] without Standardize
%     lambda1, lambda2, lambda1_max, tol, max_sweeps, seed
%                  the settings of the fit (seed [] when none was set)
%     sweeps       how many sweeps ran
%     converged    true when the fit stopped because gap was Tol or less,
%                  false when it ran out of sweeps
%     gap          the objective's distance to its optimum, relative, as
%                  the optimality conditions say at the fit's end (see Tol)
%     record       1-by-sweeps struct array, each sweep's exact relative
%                  change of W (diff) and the coordinate updates it made
%                  (visits), from dovex_solve's records of the rounds
%     objective    the penalised log-likelihood above, at the fit's W (for
%                  the standardised features), computed with log-sum-exp
%     nnz          the number of non-zero weights of the features (the
%                  intercepts not counted)
%     fit_seconds  the time of the fit
%     notes        what the fit noticed about the data, a cell array of text
%
%   A fit whose scores overflow exp (features of very large magnitude with
%   small penalties) raises dovex_train:diverged rather than return a W of
%   NaN: standardise X or raise the penalties.
%
%   Errors: dovex_train:notDouble, dovex_train:notFinite (NaN or Inf in X),
%   dovex_train:sizeMismatch, dovex_train:badLabels, dovex_train:oneClass,
%   dovex_train:badOption (also for Weights, ClassWeight or PenaltyFactor
%   of the wrong length, or a class of no weight), dovex_train:diverged,
%   dovex_train:fitFailed (the fit raised an error, such as a module
%   missing; the message says which).
%   Warning: dovex:notConverged.
%
%   Example:
%       D = dlmread('data/iris.csv', ',', 1, 0);   % features, then class
%       model = dovex_train(D(:,1:end-1), D(:,end), 'Seed', 1, 'Display', 'final');
%       predicted = dovex_predict(model, D(:,1:end-1));
%       mean(predicted == D(:,end))                 % training accuracy
%
%   dovex version: unreleased sources
%
%   See also DOVEX_PREDICT, DOVEX_PATH, DOVEX_CV, DOVEX_SEED, DOVEX_SOLVE.

function model = dovex_train(X, labels, varargin)
if nargin < 2
    error('dovex_train:badOption', 'usage: model = dovex_train(X, labels, Name, Value, ...)');
end
[X, y, classes] = check_data('dovex_train', X, labels);
opts = parse_options('dovex_train', varargin);
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
seed = opts.Seed;
if isempty(seed)
    seed = NaN;
end
header = sprintf('dovex_train: %d samples, %d features, %d classes; lambda1 %.4g, lambda2 %.4g', ...
                 size(X, 1), size(X, 2), nc, lambda1, lambda2);
model = fit_path('dovex_train', d, lambda1, lambda2, seed, opts, false, ...
                 strcmp(opts.Display, 'sweeps'), header);
model = model{1};
if ~isempty(model.failure_id)
    error('dovex_train:fitFailed', '%s', model.failure);
elseif ~isempty(model.failure)
    error('dovex_train:diverged', '%s. Standardize X or raise the penalties.', model.failure);
end
model = rmfield(model, {'failure', 'failure_id'});
model.classes = classes;
model.feature_names = opts.FeatureNames;
if ~strcmp(opts.Display, 'off')
    for k = 1:numel(model.notes)
        fprintf('note: %s\n', model.notes{k});
    end
end
if ~model.converged
    warning('dovex:notConverged', ['dovex_train: the fit stopped at MaxSweeps (%d) without ', ...
            'converging; its objective was %.3g from its optimum, relative, above Tol %g. ', ...
            'Raise MaxSweeps or Tol.'], model.sweeps, model.gap, model.tol);
end
if strcmp(opts.Display, 'final')
    fprintf('%s\n', fit_summary(model));
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

%!function [X, Y, W0, XW, E, Z] = solve_inputs (X, label, bias)
%!  ## dovex_solve's inputs for X as it is, from the null model
%!  [ns, nc] = deal (rows (X), max (label) + 1);
%!  Y = full (sparse ((1:ns)', label + 1, 1, ns, nc));
%!  W0 = zeros (columns (X), nc);
%!  if (bias)
%!    X = [X, ones(ns, 1)];
%!    W0(end+1,:) = log (mean (Y));
%!  endif
%!  XW = X * W0;
%!  XW = XW - max (XW, [], 2);
%!  E = exp (XW);
%!  Z = sum (E, 2);
%!endfunction

%!test  # the same bits as the dovex_solve calls it stands for, and an optimum within Tol
%! warning ("off", "dovex:notConverged", "local");
%! m = dovex_train (X, label, "Display", "off", "Standardize", false, "MaxSweeps", 2, "Tol", 0);
%! [Xb, Y, W0, XW, E, Z] = solve_inputs (X, label, true);
%! ## lambda1_max from the null model (the class frequencies) and the features alone
%! lambda1_max = max (max (abs (X' * (Y - mean (Y)))));
%! assert (m.lambda1_max, lambda1_max, 2e-9 * lambda1_max);
%! assert ([m.lambda1, m.lambda2], [0.05, 0.005] * m.lambda1_max);
%! ## a round of 2 sweeps of the block method; then each feature's weights
%! ## move by one number, which changes no probability and lowers the penalty
%! opts = struct ("penalty", [1; 1; 1; 1; 0], "display", false, "method", "block");
%! [W, info] = dovex_solve (Xb, Y, W0, XW, E, Z, m.lambda1, m.lambda2, 0, 2, opts);
%! assert (bits_of (m.W(5,:)), bits_of (W(5,:)));
%! shift = W(1:4,:) - m.W(1:4,:);
%! assert (shift, repmat (shift(:,1), 1, 3), 1e-14);
%! penalty = @(V) m.lambda1 * sum (abs (V), 2) + m.lambda2 / 2 * sum (V .^ 2, 2);
%! assert (all (penalty (m.W(1:4,:)) <= penalty (W(1:4,:))));
%! ## what the model says about the fit is the solver's exact record
%! assert ([m.record.diff]', info.diffs);
%! assert ([m.record.visits]', info.visits);
%! assert ([m.sweeps, m.converged], [2, false]);
%! assert (m.nnz, nnz (m.W(1:4,:)));
%! assert ([m.bias, m.tol, m.max_sweeps], [true, 0, 2]);
%! assert (m.classes, [0; 1; 2]);
%! assert (isempty (m.scale) && isempty (m.center));
%! ## at the default Tol the optimality conditions hold and the gap is as said
%! m = dovex_train (X, label, "Display", "off", "Standardize", false);
%! assert (m.converged && m.gap <= 1e-7);
%! S = Xb * m.W;
%! P = exp (S - max (S, [], 2));
%! P = P ./ sum (P, 2);
%! G = Xb' * (Y - P);
%! nz = m.W(1:4,:) != 0;
%! G4 = G(1:4,:);
%! assert (max (abs (G(5,:))) < 1e-3 * m.lambda1);
%! assert (all (abs (G4(! nz)) <= m.lambda1 * (1 + 1e-6)));
%! assert (G4(nz), m.lambda1 * sign (m.W(1:4,:)(nz)) + m.lambda2 * m.W(1:4,:)(nz), 1e-3 * m.lambda1);

%!test  # correlated features: the fit is within Tol of its optimum, and says how far
%! randn ("seed", 3);
%! rand ("seed", 3);
%! n = 400;
%! Z = randn (n, 3);
%! Xc = [Z, Z + 0.02 * randn(n, 3), Z(:,1) - Z(:,2) + 0.02 * randn(n, 1)];
%! S = Z * [2 -1 0 1; 0 1 -2 1; -1 0 1 2];
%! [~, y] = max (S + randn (n, 4), [], 2);
%! for l1 = [0.02, 0.001]
%!   m = dovex_train (Xc, y, "Lambda1", l1 * 400, "Display", "off");
%!   tight = dovex_train (Xc, y, "Lambda1", l1 * 400, "Tol", 1e-13, "MaxSweeps", 3000, "Display", "off");
%!   gap = (tight.objective - m.objective) / abs (tight.objective);
%!   assert (m.converged && m.gap <= 1e-7);
%!   assert (gap <= 1e-7);
%!   ## the measure does not fall short of the distance it bounds
%!   assert (m.gap >= gap / 2);
%!   assert (tight.objective >= m.objective - 1e-12 * abs (m.objective));
%! endfor
%! ## an ascent, the shifts and Newton steps between the rounds included:
%! ## stopped at the end of each round, the objective never falls
%! warning ("off", "dovex:notConverged", "local");
%! objective = [];
%! for sweeps = [2 6 14 30 62 94]
%!   m = dovex_train (Xc, y, "Lambda1", 0.4, "Tol", 0, "MaxSweeps", sweeps, "Display", "off");
%!   assert (m.sweeps, sweeps);
%!   objective(end+1) = m.objective;
%! endfor
%! assert (all (diff (objective) >= -1e-12 * abs (objective(end))));
%! assert (objective(end) > objective(1));

%!test  # lambda1_max is the edge: at it only the intercepts, just below a feature enters
%! m = dovex_train (X, label, "Display", "off", "Seed", 1);
%! at = dovex_train (X, label, "Lambda1", m.lambda1_max, "Display", "off", "Seed", 1);
%! assert (at.nnz, 0);
%! assert (at.converged);
%! assert (at.W(end,:), log ([1 1 1] / 3), 1e-12);
%! below = dovex_train (X, label, "Lambda1", m.lambda1_max * 0.99, "Display", "off", "Seed", 1);
%! assert (below.nnz > 0);

%!test  # the defaults: a fit of the centred and scaled data, reported in the units of X
%! [Xd, ld] = digits ();
%! for data = {{X, label, 1}, {Xd(1:900,:), ld(1:900), 0.5}}
%!   [A, l, lambda1] = deal (data{1}{:});
%!   m = dovex_train (A, l, "Lambda1", lambda1, "Seed", 3, "Tol", 1e-7, "Display", "off");
%!   s = std (A);
%!   flat = ! (s > 0);                  # digits has pixels that are always 0
%!   As = (A - mean (A)) ./ s;
%!   As(:,flat) = 0;
%!   hand = dovex_train (As, l, "Lambda1", lambda1, "Standardize", false, "Seed", 3, ...
%!                       "Tol", 1e-7, "Display", "off");
%!   assert (m.center(! flat), mean (A)(! flat), 1e-12);
%!   assert (m.scale(! flat), s(! flat), 1e-12 * max (s));
%!   assert (m.W(! flat,:) .* s(! flat)', hand.W(! flat,:), 1e-6 * max (abs (hand.W(:))));
%!   assert (all (m.W(flat,:)(:) == 0));
%!   assert (m.objective, hand.objective, 1e-9 * abs (hand.objective));
%!   [p1, P1] = dovex_predict (m, A);
%!   [p2, P2] = dovex_predict (hand, As);
%!   assert (P1, P2, 1e-6);
%!   assert (mean (p1 == l) > 0.95);
%! endfor
%! assert (m.notes{1}, sprintf ("%d columns of X have no spread (%s): their weights are kept at zero.", ...
%!         nnz (flat), strjoin (arrayfun (@num2str, find (flat), "UniformOutput", false), ", ")));
%! ## without the intercept, nothing to take up a centring: scaled only
%! nb = dovex_train (X, label, "Bias", false, "Lambda1", 1, "Seed", 3, "Tol", 1e-7, "Display", "off");
%! hand = dovex_train (X ./ std (X), label, "Bias", false, "Standardize", false, "Lambda1", 1, ...
%!                     "Seed", 3, "Tol", 1e-7, "Display", "off");
%! assert (nb.center, zeros (1, 4));
%! assert (nb.W .* std (X)', hand.W, 1e-6 * max (abs (hand.W(:))));
%! ## held out, the default model of digits classifies the rest well
%! predicted = dovex_predict (m, Xd(901:end,:));
%! assert (mean (predicted == ld(901:end)) > 0.9);

%!test  # any finite column is scaled without overflow or underflow
%! t = (1:40)';
%! base = [sin(t), cos(3 * t)];
%! l = double (base(:,1) + base(:,2) > 0);
%! m = dovex_train (base, l, "Lambda1", 0.1, "Seed", 1, "Display", "off");
%! for f = [1e-300, 1e300]
%!   big = dovex_train (base * f, l, "Lambda1", 0.1, "Seed", 1, "Display", "off");
%!   assert (big.scale, std (base) * f, 1e-12 * max (std (base)) * f);
%!   assert (big.W(1:2,:) * f, m.W(1:2,:), 1e-9 * max (abs (m.W(:))));
%!   assert (big.W(3,:), m.W(3,:), 1e-9 * max (abs (m.W(:))));
%!   assert (dovex_predict (big, base * f), dovex_predict (m, base));
%! endfor
%! ## a column at the edge of the doubles, and one without spread: no NaN
%! wide = dovex_train ([base(:,1) * 1.7e308, 5 * ones(40, 1)], l, "Display", "off");
%! assert (all (isfinite (wide.W(:))));
%! assert (wide.W(2,:), [0 0]);
%! assert (numel (wide.notes), 1);

%!test  # the intercepts learn the class frequencies of an imbalanced problem
%! keep = [1:50, 51:60, 101:150];
%! m = dovex_train (X(keep,:), label(keep), "Lambda1", 1e6, "Display", "off");
%! [~, P] = dovex_predict (m, X);
%! assert (P, repmat ([50 10 50] / 110, ns, 1), 1e-12);
%! ## and with an offset, the intercepts that make up for it
%! O = [X(keep,1) - 5, zeros(110, 2)];
%! m = dovex_train (X(keep,:), label(keep), "Lambda1", 1e6, "Offset", O, "Display", "off");
%! [~, ~, S] = dovex_predict (m, X(keep,:));
%! P0 = exp (S + O) ./ sum (exp (S + O), 2);
%! assert (sum (P0), [50 10 50], 1e-9);
%! Y = full (sparse ((1:110)', label(keep) + 1, 1, 110, 3));
%! Xs = (X(keep,:) - mean (X(keep,:))) ./ std (X(keep,:));
%! assert (m.lambda1_max, max (max (abs (Xs' * (Y - P0)))), 1e-8 * m.lambda1_max);

%!test  # Weights, ClassWeight and PenaltyFactor are the solver's weights and factors
%! w = 1 + mod ((1:ns)', 3);
%! r = repelem ((1:ns)', w);
%! args = {"Standardize", false, "Lambda1", 2, "Seed", 4, "Tol", 1e-9, "MaxSweeps", 20000, "Display", "off"};
%! rep = dovex_train (X(r,:), label(r), args{:});
%! weighted = dovex_train (X, label, "Weights", w, args{:});
%! assert (weighted.W, rep.W, 1e-5 * max (abs (rep.W(:))));
%! assert (weighted.lambda1_max, rep.lambda1_max, 1e-12 * rep.lambda1_max);
%! ## a class weight is each of its samples' weight
%! c = dovex_train (X, label, "ClassWeight", [1 2 3], "Standardize", false, "Lambda1", 2, ...
%!                  "Seed", 4, "Display", "off");
%! cw = dovex_train (X, label, "Weights", [1 2 3](label + 1), "Standardize", false, ...
%!                   "Lambda1", 2, "Seed", 4, "Display", "off");
%! assert (bits_of (c.W), bits_of (cw.W));
%! ## a factor of 0 leaves a feature unpenalised, at any lambda1
%! f = dovex_train (X, label, "PenaltyFactor", [1 0 1 1], "Lambda1", 1e3, "Display", "off");
%! assert (any (f.W(2,:) != 0) && ! any (any (f.W([1 3 4],:))));

%!test  # ClassWeight 'balanced' raises the minority class's recall
%! t = (1:220)';
%! A = [sin(t), cos(2 * t), sin(5 * t)];
%! l = double (A(:,1) + 0.5 * A(:,2) > 0.7);
%! assert (mean (l) < 0.2);
%! plain = dovex_train (A, l, "Lambda1", 2, "Seed", 1, "Display", "off");
%! balanced = dovex_train (A, l, "Lambda1", 2, "ClassWeight", "balanced", "Seed", 1, "Display", "off");
%! recall = @(m) mean (dovex_predict (m, A(l == 1,:)) == 1);
%! assert (recall (balanced) > recall (plain) + 0.1);

%!test  # a sparse X is scaled, not centred, stays sparse, and gives the bits of full(X)
%! S = sparse (X .* (X > 2));
%! args = {"Standardize", false, "Lambda1", 2, "Seed", 5, "Display", "off", "MaxSweeps", 100};
%! full_fit = dovex_train (full (S), label, args{:});
%! m = dovex_train (S, label, args{:});
%! assert (bits_of (m.W), bits_of (full_fit.W));
%! assert ([m.sweeps, m.nnz], [full_fit.sweeps, full_fit.nnz]);
%! assert (m.objective, full_fit.objective, 1e-12 * abs (full_fit.objective));
%! assert (m.lambda1_max, full_fit.lambda1_max, 1e-12 * full_fit.lambda1_max);
%! m = dovex_train (S, label, "Seed", 3, "Display", "off", "Tol", 1e-7);
%! s = std (full (S));
%! assert (m.scale, s, 1e-14 * max (s));
%! assert (m.center, zeros (1, 4));
%! hand = dovex_train (full (S) ./ s, label, "Standardize", false, "Seed", 3, "Display", "off", ...
%!                     "Tol", 1e-7, "Lambda1", m.lambda1);
%! assert (m.W(1:4,:) .* s', hand.W(1:4,:), 1e-6 * max (abs (hand.W(:))));
%! assert (m.W(5,:), hand.W(5,:), 1e-6 * max (abs (hand.W(:))));

%!test  # a sparse X of 60000 x 50000, 24 GB if it were full, is never made full
%! [n, nd] = deal (60000, 50000);
%! k = (1:2000)';
%! S = sparse (k, mod (k - 1, 10) + 1, 1 + mod (k, 3), n, nd);
%! odd = mod ((1:n)', 2);
%! warning ("off", "dovex:notConverged", "local");
%! m = dovex_train (S, odd, "MaxSweeps", 3, "Seed", 1, "Display", "off");
%! assert (size (m.W), [nd + 1, 2]);
%! assert (nnz (m.W(11:nd,:)), 0);
%! W10 = m.W(1:10,:);
%! assert (all (W10(:) != 0));
%! assert (m.scale(11:end), ones (1, nd - 10));
%! [predicted, P] = dovex_predict (m, S(1:20,:));
%! assert (predicted, odd(1:20));
%! assert (size (P), [20 2]);

%!test  # Lambda2 = 0: a feature that is zero throughout stays at zero, not NaN
%! Xz = [X(:,1:2), zeros(ns, 1), X(:,3:4)];
%! for standardize = [false, true]
%!   m = dovex_train (Xz, label, "Lambda1", 1, "Lambda2", 0, "Seed", 6, "Display", "off", ...
%!                    "Standardize", standardize);
%!   assert (all (isfinite (m.W(:))));
%!   assert (m.W(3,:), [0 0 0]);
%!   assert (numel (m.notes), double (standardize));
%! endfor

%!test  # a fit whose scores overflow is an error, not a W of NaN; standardised, it fits
%! A = [1e200; -1e200; 3e200; 0];
%! try
%!   dovex_train (A, [1; 2; 1; 2], "Standardize", false, "Lambda1", 0, "Display", "off");
%!   error ("no error");
%! catch err
%!   assert (err.identifier, "dovex_train:diverged");
%! end_try_catch
%! m = dovex_train (A, [1; 2; 1; 2], "Lambda1", 0.1, "Display", "off");
%! assert (all (isfinite (m.W(:))));
%! ## an offset beyond exp's range is fine: each sample's largest score is taken off
%! m = dovex_train (X, label, "Offset", 710 * ones (ns, 3), "Display", "off");
%! assert (m.converged && all (isfinite (m.W(:))));

%!test  # Display: the lines as they come, one summary line, or nothing
%! warning ("off", "dovex:notConverged", "local");
%! out = evalc ('m = dovex_train (X, label, "MaxSweeps", 3, "Tol", 0);');
%! lines = strsplit (strtrim (out), "\n");
%! assert (numel (lines), 4);
%! assert (regexp (lines{1}, '^dovex_train: 150 samples, 4 features, 3 classes; lambda1 '));
%! assert (regexp (lines{2}, '^sweep : 1, diff : [0-9.]+$'));
%! assert (m.sweeps, 3);
%! assert (! m.converged);
%! out = evalc ('m = dovex_train (X, label, "MaxSweeps", 3, "Display", "final");');
%! assert (regexp (out, '^lambda1 [0-9.]+, lambda2 [0-9.]+: 3 sweeps, not converged, \d+ of 15 weights non-zero, [0-9.]+ s\n$'));
%! assert (evalc ('m = dovex_train (X, label, "MaxSweeps", 3, "Display", "off");'), "");

%!test  # a fit that runs out of sweeps warns once, with its identifier; converged is exact
%! lastwarn ("");
%! out = evalc ('m = dovex_train (X, label, "MaxSweeps", 2, "Tol", 0, "Display", "off");');
%! [~, id] = lastwarn ();
%! assert (id, "dovex:notConverged");
%! assert (numel (regexp (out, '^warning: dovex_train', "lineanchors")), 1);
%! assert (! m.converged);
%! ## stopped by the rule: converged, its gap Tol or less
%! lastwarn ("");
%! m = dovex_train (X, label, "Tol", 1e-5, "Seed", 2, "Display", "off");
%! assert (m.converged && m.gap <= 1e-5 && m.sweeps < 1000);
%! assert (lastwarn (), "");
%! ## a gap a hair above Tol is not converged
%! lastwarn ("");
%! tol = m.gap * (1 - 1e-12);
%! out = evalc ('again = dovex_train (X, label, "Tol", tol, "MaxSweeps", m.sweeps, "Seed", 2, "Display", "off");');
%! assert (again.sweeps, m.sweeps);
%! assert (! again.converged);
%! [~, id] = lastwarn ();
%! assert (id, "dovex:notConverged");

%!test  # the lines reach the screen and a diary the user keeps, as they come
%! log = [tempname() ".txt"];
%! warning ("off", "dovex:notConverged", "local");
%! unwind_protect
%!   diary (log);
%!   m = dovex_train (X, label, "MaxSweeps", 2, "Tol", 0);
%!   disp ("after the fit");
%!   diary ("off");
%!   text = fileread (log);
%! unwind_protect_cleanup
%!   diary ("off");
%!   delete (log);
%! end_unwind_protect
%! assert (numel (m.record), 2);
%! assert (regexp (text, 'dovex_train: .*\nsweep : 1, diff : \S+\nsweep : 2, diff : \S+\nafter the fit'));

%!test  # monotone ascent on digits: the bound optimisation never lowers the objective
%! [Xd, ld] = digits ();
%! k = 2 .^ (0:8);
%! objective = zeros (size (k));
%! warning ("off", "dovex:notConverged", "local");
%! for i = 1:numel (k)
%!   m = dovex_train (Xd, ld, "Seed", 11, "MaxSweeps", k(i), "Tol", 0, "Display", "off");
%!   assert (m.sweeps, k(i));
%!   objective(i) = m.objective;
%! endfor
%! rise = diff (objective);
%! assert (all (rise >= -1e-12 * abs (objective(2:end))), "objective fell: %s", mat2str (objective, 16));
%! ## and the fit gets somewhere: the last is far above the first
%! assert (objective(end) - objective(1) > 0.1 * abs (objective(1)));

%!test  # every function's help lists exactly the options it takes
%! for f = {"dovex_train", "dovex_path", "dovex_cv", "dovex_plot_cv", "dovex_plot_weights", "dovex_permtest"}
%!   listed = regexp (get_help_text (f{1}), '^ {3,6}''(\w+)''', "tokens", "lineanchors");
%!   listed = sort (cellfun (@(t) t{1}, listed, "UniformOutput", false));
%!   try
%!     switch (f{1})
%!       case "dovex_plot_cv"
%!         dovex_plot_cv (struct ("lambda1", 1, "loss_mean", 1, "loss_se", 0, "nnz_mean", 0, ...
%!                                "lambda1_min", 1, "lambda1_1se", 1), "NoSuchOption", 1);
%!       case "dovex_permtest"
%!         dovex_permtest (X, label, "NoSuchOption", 1);
%!       case "dovex_plot_weights"
%!         dovex_plot_weights (struct ("W", 1, "classes", 1, "bias", false), [1 1], "NoSuchOption", 1);
%!       otherwise
%!         feval (f{1}, X, label, "NoSuchOption", 1);
%!     endswitch
%!   catch err
%!     taken = strsplit (regexp (err.message, 'its options are (.*)\.$', "tokens", "once"){1}, ", ");
%!   end_try_catch
%!   assert (listed, sort (taken), f{1});
%! endfor

%!function [names, files] = public_functions ()
%!  ## every public function, its help text and the file that holds it
%!  names = {"dovex_train", "dovex_predict", "dovex_path", "dovex_cv", "dovex_plot_cv", ...
%!           "dovex_plot_weights", "dovex_job", "dovex_fit", "dovex_solve", "dovex_seed", ...
%!           "dovex_features", "dovex_plot_path", "dovex_permtest", "dovex_plot_permtest"};
%!  files = cellfun (@(f) file_in_loadpath ([f ".m"]), names, "UniformOutput", false);
%!endfunction

%!test  # every public function's help lists its outputs and the errors it raises
%! [names, files] = public_functions ();
%! wrong = {};
%! for i = 1:numel (names)
%!   f = names{i};
%!   text = fileread (files{i});
%!   helptext = get_help_text (f);
%!   ## the outputs: the union of the help's call lines is the function's output list
%!   outs = regexp (text, '^function\s+(\[[^\]]*\]|\w+)\s*=', "tokens", "once", "lineanchors");
%!   outs = regexp (strjoin ([{""}, outs]), '\w+', "match");
%!   listed = regexp (helptext, ['(\[[^\]]*\]|\w+)\s*=\s*' upper(f) '\('], "tokens");
%!   listed = unique (regexp (strjoin ([{""}, cellfun(@(t) t{1}, listed, "UniformOutput", false)]), ...
%!                            '\w+', "match"));
%!   if (! isequal (sort (listed(:)), sort (outs(:))))
%!     wrong{end+1} = sprintf ("%s lists outputs %s, returns %s", f, strjoin (listed), strjoin (outs));
%!   endif
%!   ## the identifiers: those it raises and those its tests expect, and for a
%!   ## compiled function those its gateway's sources raise, where the sources are
%!   ids = regexp (text, ['(?<![\w])' f ':\w+'], "match");
%!   src = fullfile (getenv ("DOVEX_SOURCE_DIR"), "mex");
%!   if (isempty (getenv ("DOVEX_SOURCE_DIR")))
%!     src = fullfile (fileparts (files{i}), "src", "mex");
%!   endif
%!   gateway = fullfile (src, [f ".cpp"]);
%!   if (exist (gateway, "file"))
%!     code = fileread (gateway);
%!     ids = [ids, regexp(code, ['(?<=")' f ':\w+'], "match")];
%!     if (! isempty (strfind (code, "inputs.h")))
%!       shared = regexp (fileread (fullfile (src, "inputs.h")), 'id\(fn, "(\w+)"\)', "tokens");
%!       ids = [ids, strcat([f ":"], [shared{:}])];
%!     endif
%!   endif
%!   ids = unique (ids);
%!   missing = ids(cellfun (@(id) isempty (strfind (helptext, id)), ids));
%!   if (! isempty (missing))
%!     wrong{end+1} = sprintf ("%s's help misses %s", f, strjoin (missing, ", "));
%!   endif
%! endfor
%! assert (isempty (wrong), strjoin (wrong, "\n"));

%!function run_example (example_code)
%!  ## in a workspace of its own, so the example's names clash with nothing
%!  evalc (example_code);
%!endfunction

%!test  # every public function's example runs, in a fresh folder with the data
%! [names, files] = public_functions ();
%! top = fileparts (which ("dovex_train"));
%! ## an empty entry (DOVEX_DATA_DIR unset) would end file_in_path's search
%! places = {getenv("DOVEX_DATA_DIR"), fullfile(top, "data"), fullfile(top, "..", "data")};
%! places = places(! cellfun (@isempty, places));
%! data = file_in_path (strjoin (places, pathsep ()), "iris.csv");
%! data = fileparts (data);
%! here = pwd ();
%! scratch = tempname ();
%! mkdir (fullfile (scratch, "data"));
%! copyfile (fullfile (data, "*.csv"), fullfile (scratch, "data"));
%! visible = get (0, "defaultfigurevisible");
%! set (0, "defaultfigurevisible", "off");
%! unwind_protect
%!   cd (scratch);
%!   for i = 1:numel (names)
%!     lines = strsplit (get_help_text (names{i}), "\n");
%!     first = find (! cellfun (@isempty, regexp (lines, '^\s*Example')), 1);
%!     assert (! isempty (first), "%s: no example", names{i});
%!     ## the example is the lines indented deeper than its heading
%!     indent = @(l) numel (l) - numel (regexprep (l, '^\s+', ''));
%!     deeper = cellfun (@(l) ! all (isspace (l)) && indent (l) > indent (lines{first}), ...
%!                       [lines(first+1:end), {""}]);
%!     last = first + find (! deeper, 1) - 1;
%!     code = strjoin (lines(first+1:last), "\n");
%!     assert (! isempty (strtrim (code)), "%s: empty example", names{i});
%!     try
%!       run_example (code);
%!     catch err
%!       error ("%s's example fails: %s", names{i}, err.message);
%!     end_try_catch
%!     close all;
%!   endfor
%! unwind_protect_cleanup
%!   cd (here);
%!   set (0, "defaultfigurevisible", visible);
%!   close all;
%!   confirm_recursive_rmdir (false, "local");
%!   rmdir (scratch, "s");
%! end_unwind_protect

% Errors, each identified, before any fit
%!error id=dovex_train:notDouble dovex_train (single (X), label)
%!error id=dovex_train:notDouble dovex_train (X + 1i, label)
%!error id=dovex_train:notDouble dovex_train (int8 (X), label)
%!error id=dovex_train:notFinite dovex_train ([X(1:end-1,:); NaN 1 1 1], label)
%!error id=dovex_train:notFinite dovex_train ([X(1:end-1,:); Inf 1 1 1], label)
%!error id=dovex_train:sizeMismatch dovex_train (X, label(1:end-1))
%!error id=dovex_train:sizeMismatch dovex_train (X, ["a"; "b"])
%!error id=dovex_train:badLabels dovex_train (X, [label(1:end-1); NaN])
%!error id=dovex_train:badLabels dovex_train (X, [label(1:end-1); Inf])
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
%!error id=dovex_train:badOption dovex_train (X, label, "Tol", -1e-9)
%!error id=dovex_train:badOption dovex_train (X, label, "Weights", ones (ns - 1, 1))
%!error id=dovex_train:badOption dovex_train (X, label, "Weights", -ones (ns, 1))
%!error id=dovex_train:badOption dovex_train (X, label, "Weights", [zeros(50, 1); ones(100, 1)])
%!error id=dovex_train:badOption dovex_train (X, label, "ClassWeight", [1 1])
%!error id=dovex_train:badOption dovex_train (X, label, "ClassWeight", "even")
%!error id=dovex_train:badOption dovex_train (X, label, "PenaltyFactor", [1 1 1 NaN])
%!error id=dovex_train:badOption dovex_train (X, label, "PenaltyFactor", [1 1 1])
%!error id=dovex_train:badOption dovex_train (X, label, "MaxSweeps", 0)
%!error id=dovex_train:badOption dovex_train (X, label, "MaxSweeps", 2.5)
%!error id=dovex_train:badOption dovex_train (X, label, "Bias", "yes")
%!error id=dovex_train:badOption dovex_train (X, label, "Standardize", 2)
%!error id=dovex_train:badOption dovex_train (X, label, "Seed", -1)
%!error id=dovex_train:badOption dovex_train (X, label, "Seed", 2^32)
%!error id=dovex_train:badOption dovex_train (X, label, "Display", "loud")
%!error id=dovex_train:badOption dovex_train (X, label, "Offset", zeros (ns, 2))
%!error id=dovex_train:badOption dovex_train (X, label, "Offset", NaN (ns, 3))
%!error <option 'Offset' must be a full, finite, real double matrix> dovex_train (X, label, "Offset", sparse (ns, 3))
%!error <option 'Lambda1' must be a finite scalar of 0 or more> dovex_train (X, label, "lambda1", -1)
%!error <'Lamda1' is not an option of dovex_train; its options are Lambda1, Lambda2,> dovex_train (X, label, "Lamda1", 1)
%!error <X must be a real double matrix, one row per sample; it is 150x4 single> dovex_train (single (X), label)
%!error <labels must have 150 labels, one per row of X; it has 149> dovex_train (X, label(1:end-1))
