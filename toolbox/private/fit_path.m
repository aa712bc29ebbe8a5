function models = fit_path(fname, d, lambda1, lambda2, seeds, opts, warm, show, header)
%FIT_PATH  Fits of one design for each penalty given, by dovex_solve.
%   models = FIT_PATH(fname, d, lambda1, lambda2, seeds, opts, warm, show,
%   header) fits the design d (see design) at each pair (lambda1(k),
%   lambda2(k)), in the order given, each after dovex_seed(seeds(k)) when
%   seeds(k) is not NaN, with opts.Tol and opts.MaxSweeps. Every fit starts
%   from the null model d.W0, or with warm true from the fit before it
%   (when that one did not fail). show prints header and dovex_solve's
%   progress lines as they come. models{k} is the model of fit k (see
%   model_of), in the units of X; a fit that overflowed or raised an error
%   is kept with W all NaN, the reason in its field failure and, for an
%   error, its identifier in failure_id ('' for an overflow).

n = numel(lambda1);
models = cell(1, n);
start = d.W0;
for k = 1:n
    if ~isnan(seeds(k))
        dovex_seed(seeds(k));
    end
    t0 = tic;
    [failure, failure_id] = deal('');
    try
        [Ws, info] = solve(d, start, lambda1(k), lambda2(k), opts, show, header);
        if ~all(isfinite(Ws(:))) || ~isfinite(info.gap)
            failure = ['the fit overflowed: some scores went beyond what exp can take, ', ...
                       'or its optimality could not be measured in doubles'];
        end
    catch err
        [Ws, info] = deal(NaN(size(d.W0)), struct('sweeps', 0, 'diffs', zeros(0, 1), ...
                          'visits', zeros(0, 1), 'converged', false, 'gap', NaN));
        [failure, failure_id] = deal(err.message, err.identifier);
    end
    if ~isempty(failure)
        Ws(:) = NaN;
        info.converged = false;
    elseif warm
        start = Ws;
    end
    models{k} = model_of(d, Ws, info, lambda1(k), lambda2(k), opts, seeds(k), toc(t0), failure);
    models{k}.failure_id = failure_id;
end
end

% One fit, by dovex_solve's block method in rounds. Between rounds the
% optimality conditions of the fit's own objective F (its penalties,
% factors and weights) are checked on every weight: the fit has converged
% when gap, the objective's distance to its optimum that they imply, is Tol
% or less relative to |F|. Only the features that may enter (the weights
% not zero, the unpenalised, and those whose gradient is within a factor 2
% of the threshold) are passed to the solver; a weight left out that
% violates its condition joins the next round. Each round starts from the
% state the last one left, so no round forms X*W again but the checks.
function [Ws, info] = solve(d, W0, lambda1, lambda2, opts, show, header)
Ws = W0;
f = d.penalty;
[gap, G, violated] = optimality(d, Ws, [], lambda1, lambda2);
in = any(Ws ~= 0, 2) | f == 0 | max(abs(G), [], 2) >= 0.5 * lambda1 * f;
XW = [];
[diffs, visits] = deal(zeros(0, 1));
sweeps = 0;
round = 2;
% A start at the optimum (a warm start past the grid's first penalty, say)
% needs no sweep.
done = gap <= opts.Tol && ~any(violated & ~in);
while ~done
    k = find(in);
    if isempty(XW)
        XW = d.offset + full(d.X(:, k) * Ws(k, :));
        % A constant per row changes no probability and keeps exp in range.
        XW = bsxfun(@minus, XW, max(XW, [], 2));
    end
    E = exp(XW);
    extra = struct('display', show, 'method', 'block');
    if any(f(k) ~= 1)
        extra.penalty = f(k);
    end
    if any(d.weights ~= 1)
        extra.weights = d.weights;
    end
    args = {d.X(:, k), d.Y, Ws(k, :), XW, E, sum(E, 2), lambda1, lambda2, 0, ...
            min(round, opts.MaxSweeps - sweeps), extra};
    if show
        [Wk, part, XW] = run_fit(header, args);
        header = '';
    else
        [Wk, part, XW] = dovex_solve(args{:});
    end
    Ws(k, :) = Wk;
    sweeps = sweeps + part.sweeps;
    diffs = [diffs; part.diffs]; %#ok<AGROW>
    visits = [visits; part.visits]; %#ok<AGROW>
    [gap, G, violated] = optimality(d, Ws, XW, lambda1, lambda2);
    joining = violated & ~in;
    if ~all(isfinite(Ws(:))) || ~isfinite(gap) || sweeps >= opts.MaxSweeps || ...
            (gap <= opts.Tol && ~any(joining))
        break
    end
    in = in | joining;
    round = min(2 * round, 32);
end
info = struct('sweeps', sweeps, 'diffs', diffs, 'visits', visits, ...
              'converged', gap <= opts.Tol && all(isfinite(Ws(:))), 'gap', gap);
end

% How far W is from the optimum of its fit's objective F. For each weight,
% r is how far the gradient g of the log-likelihood is from meeting the
% optimality condition (g = lambda1 f sign(w) + lambda2 f w for w not zero,
% |g| <= lambda1 f for w zero) and c the objective's curvature along it:
% one Newton step per weight would gain r^2/(2c), and gap is the sum of
% these over |F|. violated marks the features with any r above zero. XW
% is the state at W (shifted rows allowed), or [] to compute it.
function [gap, G, violated] = optimality(d, W, XW, lambda1, lambda2)
if isempty(XW)
    XW = d.offset + full(d.X * W);
end
[P, logP] = log_softmax(XW);
s = d.weights;
G = full(d.X' * bsxfun(@times, s, d.Y - P));
F = repmat(d.penalty, 1, size(W, 2));
R = max(0, abs(G) - lambda1 * F);
nz = W ~= 0;
R(nz) = abs(G(nz) - lambda1 * F(nz) .* sign(W(nz)) - lambda2 * F(nz) .* W(nz));
C = full((d.X .^ 2)' * bsxfun(@times, s, P .* (1 - P))) + lambda2 * F;
loglik = sum(s .* sum(d.Y .* logP, 2));
objective = loglik - lambda1 * (d.penalty' * sum(abs(W), 2)) ...
            - lambda2 / 2 * (d.penalty' * sum(W .^ 2, 2));
terms = R .^ 2 ./ C;
terms(R == 0) = 0;
gap = sum(terms(:)) / 2 / max(abs(objective), realmin);
violated = any(R > 0, 2);
end

% The model of one fit: W in the units of X, and how it was obtained.
function m = model_of(d, Ws, info, lambda1, lambda2, opts, seed, seconds, failure)
nd = numel(d.norm);
f = 1:nd;
W = Ws;
W(f, :) = bsxfun(@rdivide, bsxfun(@rdivide, Ws(f, :), d.spread'), d.norm');
if opts.Bias
    W(end, :) = Ws(end, :) - d.shift * Ws(f, :);
end
[~, logP] = log_softmax(d.offset + full(d.X * Ws));
ns = size(d.Y, 1);
loglik = d.weights' * logP(sub2ind(size(logP), (1:ns)', d.Y * (1:size(d.Y, 2))'));
if ns == 0
    loglik = 0;
end
objective = loglik - lambda1 * (d.penalty' * sum(abs(Ws), 2)) ...
            - lambda2 / 2 * (d.penalty' * sum(Ws .^ 2, 2));
notes = {};
if any(d.constant)
    notes{end+1} = sprintf(['%d columns of X have no spread (%s): their weights are ', ...
                            'kept at zero.'], nnz(d.constant), index_list(find(d.constant)));
end
[center, scale] = deal([]);
if opts.Standardize
    [center, scale] = deal(d.center, d.scale);
end
if isnan(seed)
    seed = [];
end
if ~isempty(failure)
    objective = NaN;
end
record = struct('diff', num2cell(info.diffs(:)'), 'visits', num2cell(info.visits(:)'));
m = struct('W', W, 'classes', [], 'bias', opts.Bias, 'center', center, 'scale', scale, ...
    'lambda1', lambda1, 'lambda2', lambda2, 'lambda1_max', d.lambda1_max, ...
    'tol', opts.Tol, 'max_sweeps', opts.MaxSweeps, 'seed', seed, ...
    'sweeps', info.sweeps, 'converged', logical(info.converged), 'gap', info.gap, ...
    'record', record, ...
    'objective', objective, 'nnz', nnz(W(f, :)), 'fit_seconds', seconds, ...
    'notes', {notes}, 'failure', failure);
if ~isempty(failure)
    m.nnz = NaN;
end
end

function s = index_list(k)
s = sprintf('%d, ', k(1:min(end, 10)));
s = s(1:end-2);
if numel(k) > 10
    s = [s ', ...'];
end
end
