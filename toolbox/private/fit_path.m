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
% The checks of every feature multiply by X': a product by a copy of X'
% runs faster than one by X transposed (columns added, not dot products).
d.Xt = [];
if ~issparse(d.X)
    d.Xt = d.X';
end
% Where each sample's own class sits in an ns-by-nc array.
[ns, nc] = size(d.Y);
d.own = (1:ns)' + ns * (d.Y * (0:nc - 1)');
start = d.W0;
G = [];
for k = 1:n
    if ~isnan(seeds(k))
        dovex_seed(seeds(k));
    end
    t0 = tic;
    [failure, failure_id] = deal('');
    try
        [Ws, info, Gs] = solve(d, start, G, lambda1(k), lambda2(k), opts, show, header);
        if ~all(isfinite(Ws(:))) || ~isfinite(info.gap)
            failure = ['the fit overflowed: some scores went beyond what exp can take, ', ...
                       'or its optimality could not be measured in doubles'];
        end
    catch err
        [Ws, info] = deal(NaN(size(d.W0)), struct('sweeps', 0, 'diffs', zeros(0, 1), ...
                          'visits', zeros(0, 1), 'converged', false, 'gap', NaN, ...
                          'objective', NaN));
        [failure, failure_id] = deal(err.message, err.identifier);
    end
    if ~isempty(failure)
        Ws(:) = NaN;
        info.converged = false;
    elseif warm
        [start, G] = deal(Ws, Gs);
    end
    models{k} = model_of(d, Ws, info, lambda1(k), lambda2(k), opts, seeds(k), toc(t0), failure);
    models{k}.failure_id = failure_id;
end
end

% One fit, by dovex_solve's optimum method (help dovex_solve): block
% sweeps in rounds, with shifts of each feature's class weights and Newton
% steps between them, until the fit is within Tol of the optimum of its
% objective F (its penalties, factors and weights), relative to |F|. The
% method works on a set of features: those with a weight, the unpenalised,
% and those whose zero weights violate their condition at W0 (with few
% features, also those within 20 % of it). When it says the set is done,
% the features left out are checked here, all at once: those near their
% threshold were checked first once, but on a brain-like shape none of them
% ever moved, and a product by their columns cost more than it saved. One
% that violates its condition joins the set and the fit goes on. The
% gradient G at W0 (from the fit before, [] to compute it) picks the first
% set; the G returned is the one at Ws when the last check covered every
% feature, else [].
function [Ws, info, G] = solve(d, W0, G, lambda1, lambda2, opts, show, header)
Ws = W0;
f = d.penalty;
if isempty(G)
    G = gradient(d, W0);
end
top = max(abs(G), [], 2);
in = any(Ws ~= 0, 2) | f == 0 | top > lambda1 * f;
if numel(f) <= 1000
    % Few features: sweeping those near their threshold costs less than
    % the call that one of them entering late would add.
    in = in | top >= 0.8 * lambda1 * f;
end
XW = scores(d, Ws);
extra = struct('display', show, 'method', 'optimum');
if any(d.weights ~= 1)
    extra.weights = d.weights;
end
[diffs, visits] = deal(zeros(0, 1));
sweeps = 0;
checked = false;
while true
    % A constant per row changes no probability and keeps exp in range.
    XW = bsxfun(@minus, XW, max(XW, [], 2));
    if any(in)
        extra.penalty = f(in);
        E = exp(XW);
        args = {d.X(:, in), d.Y, Ws(in, :), XW, E, sum(E, 2), lambda1, lambda2, opts.Tol, ...
                opts.MaxSweeps - sweeps, extra};
        if show
            [Ws(in, :), part, XW] = run_fit(header, args);
            header = '';
        else
            [Ws(in, :), part, XW] = dovex_solve(args{:});
        end
        sweeps = sweeps + part.sweeps;
        diffs = [diffs; part.diffs]; %#ok<AGROW>
        visits = [visits; part.visits]; %#ok<AGROW>
        G(in, :) = part.gradient;
    else
        % Nothing to fit: every weight is zero and none of them may move
        % but those checked below.
        [~, logP] = log_softmax(XW);
        part = struct('converged', true, 'gap', 0, ...
                      'objective', objective(d, Ws, logP, lambda1, lambda2));
    end
    gap = part.gap;
    if ~part.converged
        break
    end
    out = outside(d, log_softmax(XW), part.objective, lambda1, lambda2, ~in);
    gap = gap + out.gap;
    G(~in, :) = out.G;
    checked = ~any(out.violated);
    if checked
        break
    end
    in = in | out.violated;
end
% The gradient goes to the next fit of a path only when it is W's.
if ~checked
    G = [];
end
info = struct('sweeps', sweeps, 'diffs', diffs, 'visits', visits, ...
              'converged', checked && gap <= opts.Tol && all(isfinite(Ws(:))), ...
              'gap', gap, 'objective', part.objective);
end

% The scores offset + X*W, from the features with a weight alone.
function XW = scores(d, W)
k = any(W ~= 0, 2);
XW = d.offset + full(d.X(:, k) * W(k, :));
end

% The log-likelihood's gradient X' * (s .* (Y - P)) at W.
function G = gradient(d, W)
G = times_xt(d, bsxfun(@times, d.weights, d.Y - log_softmax(scores(d, W))), ...
             (1:size(W, 1))');
end

% X(:, at)' * R. Most of X is multiplied by the copy X' (see fit_path):
% a copy of those columns would cost more than the others' products.
function G = times_xt(d, R, at)
if ~isempty(d.Xt) && numel(at) > size(d.Xt, 1) / 8
    G = d.Xt * R;
    G = G(at, :);
else
    G = full(d.X(:, at)' * R);
end
end

% The fit's objective F at W, logP the log-probabilities at W: the
% weighted log-likelihood (each sample's own class picked, so that a class
% of probability 0 elsewhere adds no 0 * -Inf) less the penalties of the
% features with a weight.
function F = objective(d, W, logP, lambda1, lambda2)
k = any(W ~= 0, 2);
f = d.penalty(k)';
F = d.weights' * logP(d.own) - lambda1 * (f * sum(abs(W(k, :)), 2)) - lambda2 / 2 * (f * sum(W(k, :) .^ 2, 2));
end

% What the zero weights of the features marked in rows, all left out of
% the fit's set, add to its distance from the optimum: for each weight, r
% = max(0, |g| - lambda1 f) is how far the log-likelihood's gradient g is
% from its condition |g| <= lambda1 f, and a the objective's curvature
% along it; moving the weight alone would gain r^2/(2a), and those gains
% are summed over |F| (as dovex_solve's optimum method measures its own
% features). P are the probabilities and F the objective at the fit's W.
% out.G is the features' gradient and out.violated (one per feature)
% marks those whose condition fails.
function out = outside(d, P, F, lambda1, lambda2, rows)
at = find(rows);
R = bsxfun(@times, d.weights, d.Y - P);
out.G = times_xt(d, R, at);
f = d.penalty(at);
over = max(0, bsxfun(@minus, abs(out.G), lambda1 * f));
bad = any(over > 0, 2);
out.violated = false(size(rows));
out.violated(at(bad)) = true;
out.gap = 0;
if any(bad)
    a = full((d.X(:, at(bad)) .^ 2)' * bsxfun(@times, d.weights, P .* (1 - P)));
    a = bsxfun(@plus, a, lambda2 * f(bad));
    terms = over(bad, :) .^ 2 ./ a;
    terms(over(bad, :) == 0) = 0;
    out.gap = sum(terms(:)) / 2 / max(abs(F), realmin);
end
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
value = info.objective;
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
    value = NaN;
end
record = struct('diff', num2cell(info.diffs(:)'), 'visits', num2cell(info.visits(:)'));
m = struct('W', W, 'classes', [], 'bias', opts.Bias, 'center', center, 'scale', scale, ...
    'lambda1', lambda1, 'lambda2', lambda2, 'lambda1_max', d.lambda1_max, ...
    'tol', opts.Tol, 'max_sweeps', opts.MaxSweeps, 'seed', seed, ...
    'sweeps', info.sweeps, 'converged', logical(info.converged), 'gap', info.gap, ...
    'record', record, ...
    'objective', value, 'nnz', nnz(W(f, :)), 'fit_seconds', seconds, ...
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
