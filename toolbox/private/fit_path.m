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
                          'visits', zeros(0, 1), 'converged', false, 'gap', NaN));
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

% One fit, by dovex_solve's block method in rounds of 2, 4, 8, ... 32
% sweeps, with two moves of the toolbox's own between them, each an ascent
% of the fit's objective F:
%   - after every round, the shift of each feature's class weights by the
%     number that lowers its penalty most (row_shift), which changes no
%     probability and which the sweeps, moving one class at a time, make
%     only slowly;
%   - once the sweeps slow down or say the fit is done, Newton steps on the
%     weights not zero and those about to move, every sign held
%     (newton_direction, newton_step), each kept only when F rises: where
%     features are correlated one gains what would take the sweeps
%     hundreds. They follow each other while the distance falls fourfold;
%     when it does not, signs are changing, which the sweeps settle better.
% The sweeps work on a set of features: those with a weight, the
% unpenalised, and those whose zero weights violate their condition at W0.
% Between rounds the optimality conditions of F (its penalties, factors
% and weights) are checked on that set (optimality), first one weight at a
% time, which is cheap but falls short where features are correlated, then
% with the Newton step's gain; when that says the fit is within Tol
% (relative to |F|), the features left out are checked: first those whose
% gradient at W0 was within 20 % of the threshold, then, when none of
% those moves, the rest. One that violates its condition joins the set and
% the fit goes on. The gradient G at W0 (from the fit before, [] to
% compute it) picks the first sets; the G returned is the one at Ws when
% the last check covered every feature, else []. X*W is formed once a fit:
% every round starts from the state the one before left, or that the last
% Newton step's line search formed (a shift moves each row of it by one
% number, which changes no probability).
function [Ws, info, G] = solve(d, W0, G, lambda1, lambda2, opts, show, header)
Ws = W0;
f = d.penalty;
if isempty(G)
    G = gradient(d, W0);
end
top = max(abs(G), [], 2);
weighted = any(Ws ~= 0, 2);
entering = ~weighted & f > 0 & top > lambda1 * f;
in = weighted | f == 0 | entering;
near = ~in & top >= 0.8 * lambda1 * f;
if numel(f) <= 1000
    % Few features: sweeping the near ones costs less than the round
    % that one of them entering late would add.
    in = in | near;
    near(:) = false;
end
if any(entering)
    % A zero weight violates its condition: W0 is not the optimum, which
    % the first round needs no check to know.
    c = struct('gap', realmax, 'gap_zero', realmax, 'newton', false, 'step', []);
else
    c = optimality(d, Ws, [], lambda1, lambda2, false, in);
end
XW = [];
[diffs, visits] = deal(zeros(0, 1));
[sweeps, steps] = deal(0);
round = 2;
[settled, checked] = deal(false);
while all(isfinite(Ws(:))) && isfinite(c.gap)
    checked = false;
    settled = c.gap <= opts.Tol;
    % The sweeps settle the features in a few rounds; past those, when no
    % zero weight wants to move, the Newton step gains more than more
    % sweeps would.
    if ~c.newton && (settled || (round >= 16 && c.gap_zero <= c.gap / 10))
        c = optimality(d, Ws, XW, lambda1, lambda2, true, in);
        settled = c.gap <= opts.Tol;
    end
    if settled
        % The features left out are checked once the others are done:
        % those near their threshold first, then, when none of those
        % moves, the rest, which costs a product by all of X.
        G = zeros(size(Ws));
        G(in, :) = c.G;
        parts = {near, ~in & ~near};
        for k = 1:2
            out = optimality(d, Ws, XW, lambda1, lambda2, false, parts{k});
            c.gap = c.gap + out.gap;
            G(parts{k}, :) = out.G;
            if any(out.violated)
                break
            end
            checked = k == 2;
        end
        settled = c.gap <= opts.Tol;
        if checked
            break
        end
        in = in | out.violated;
        near = near & ~in;
        c.newton = false;
        c.step = [];
    end
    if sweeps >= opts.MaxSweeps
        break
    end
    checked = false;
    if ~isempty(c.step) && steps < max_newton_steps
        [Wn, better, XW_step] = newton_step(d, Ws, c, lambda1, lambda2);
        if better
            % The shift moves each row of scores by one number: XW_step
            % stays the state of the shifted weights.
            Ws = bsxfun(@minus, Wn, row_shift(Wn, f, lambda1, lambda2));
            XW = bsxfun(@minus, XW_step, max(XW_step, [], 2));
            steps = steps + 1;
            before = c.gap;
            c = optimality(d, Ws, XW, lambda1, lambda2, true, in);
            % Steps follow each other while the distance falls fast; when
            % it does not, signs are changing, which the sweeps settle
            % better.
            if c.gap <= before / 4 && mod(steps, 8) ~= 0
                continue
            end
            c.step = [];
        end
    end
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
    % The shift moves each row of XW by one number, which changes no
    % probability: XW stays the state.
    Ws = bsxfun(@minus, Ws, row_shift(Ws, f, lambda1, lambda2));
    c = optimality(d, Ws, XW, lambda1, lambda2, false, in);
    round = min(2 * round, 32);
end
% The gradient goes to the next fit of a path only when it is W's.
if ~checked
    G = [];
end
info = struct('sweeps', sweeps, 'diffs', diffs, 'visits', visits, ...
              'converged', checked && settled && all(isfinite(Ws(:))), ...
              'gap', c.gap);
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

% Newton steps a fit may take: each is a few products by X per iteration
% of its solve, and it takes a handful when it takes any.
function n = max_newton_steps()
n = 50;
end

% For each feature, the number c(i) whose subtraction from all its class
% weights lowers its penalty f_i (lambda1 sum_j |w_ij - c| + lambda2/2
% sum_j (w_ij - c)^2) most, and that decrease, gain(i); 0 and 0 for an
% unpenalised feature or one that gains nothing. The change adds -c*x_i
% to every class's score, which changes no probability: an ascent at no
% cost in the data. The sweeps, which move one class at a time, make that
% move only as fast as the data's curvature lets each class move alone,
% a small part of lambda2, so it is taken here in one step. The penalty
% is convex in c, its kinks at the weights and its slope zero at
% (sum_j w_ij + (lambda1/lambda2) m) / nc for some m in -nc..nc: the least
% of it over those points is its minimum.
function [c, gain] = row_shift(W, f, lambda1, lambda2)
[c, gain] = deal(zeros(size(W, 1), 1));
% A feature without a weight gains nothing.
at = find(any(W ~= 0, 2) & f > 0);
W = W(at, :);
nc = size(W, 2);
points = W;
if lambda2 > 0
    points = [W, bsxfun(@plus, sum(W, 2), (lambda1 / lambda2) * (-nc:nc)) / nc];
end
cost = @(D) lambda1 * sum(abs(D), 2) + lambda2 / 2 * sum(D .^ 2, 2);
now = cost(W);
% All points at once (the first of equal costs), in pieces that keep the
% array of differences small.
np = size(points, 2);
[best, shift] = deal(now, zeros(numel(at), 1));
step = max(1, floor(5e4 / (nc * np)));
for first = 1:step:numel(at)
    rows = first:min(first + step - 1, numel(at));
    D = bsxfun(@minus, W(rows, :), reshape(points(rows, :), [], 1, np));
    [value, k] = min(reshape(cost(D), [], np), [], 2);
    lower = value < now(rows);
    best(rows(lower)) = value(lower);
    shift(rows(lower)) = points(sub2ind(size(points), rows(lower)', k(lower)));
end
better = now - best > 0;
c(at(better)) = shift(better);
gain(at(better)) = f(at(better)) .* (now(better) - best(better));
end

% How far W is from the optimum of its fit's objective F (maximised):
%   F(W) = sum_k s_k log p_k,y_k - lambda1 sum_ij f_i |w_ij|
%          - lambda2/2 sum_ij f_i w_ij^2.
% For each weight, r is how far the log-likelihood's gradient g (c.G) is
% from meeting the condition of the optimum (g = lambda1 f sign(w) +
% lambda2 f w for w not zero, |g| <= lambda1 f for w zero), and a is F's
% curvature along the weight: moving it alone would gain r^2/(2a). With
% newton false, c.gap is the sum of these gains over |F|. With newton
% true, the free weights (those not zero, and those of an unpenalised
% feature but one class, since adding the same number to every class's
% weight changes no probability) count instead as a whole: with each sign
% held, F is smooth in them, and the Newton step c.step gains its
% quadratic model's q'x/2 (newton_direction), which the gains one at a
% time may fall far short of where features are correlated. c.violated
% marks the features with a zero weight that violates its condition, and
% c.newton which of the two c.gap is. XW is the state at W (shifted rows
% allowed), or [] to compute it. rows (logical, one per feature) limits the
% checks with newton false to those features, [] checks all; F's value
% (c.objective) is always the whole one.
function c = optimality(d, W, XW, lambda1, lambda2, newton, rows)
if isempty(XW)
    XW = scores(d, W);
end
[nd, nc] = size(W);
[P, logP] = log_softmax(XW);
s = d.weights;
c.objective = objective(d, W, logP, lambda1, lambda2);
scale = max(abs(c.objective), realmin);
if isempty(rows)
    rows = true(nd, 1);
end
at = find(rows);
G = times_xt(d, bsxfun(@times, s, d.Y - P), at);
c.G = G;
% Only the features with a weight, unpenalised or violating their
% condition count: the others' zero weights meet theirs.
f = d.penalty(at);
live = f == 0 | any(W(at, :) ~= 0, 2) | max(abs(G), [], 2) > lambda1 * f;
at = reshape(at(live), [], 1);
G = G(live, :);
F = d.penalty(at) * ones(1, nc);
Wr = W(at, :);
R = max(0, abs(G) - lambda1 * F);
nz = Wr ~= 0;
R(nz) = abs(G(nz) - lambda1 * F(nz) .* sign(Wr(nz)) - lambda2 * F(nz) .* Wr(nz));
% The curvature only where it is used: violated conditions and free weights.
used = any(R > 0 | nz | F == 0, 2);
a = ones(size(G));
a(used, :) = full((d.X(:, at(used)) .^ 2)' * bsxfun(@times, s, P .* (1 - P))) + lambda2 * F(used, :);
terms = R .^ 2 ./ a;
terms(R == 0) = 0;
zero_part = terms;
zero_part(nz | F == 0) = 0;
c.gap_zero = sum(zero_part(:)) / 2 / scale;
c.violated = false(nd, 1);
c.violated(at) = any(R > 0 & ~nz & F > 0, 2);
c.newton = newton;
c.step = [];
if ~newton
    c.gap = sum(terms(:)) / 2 / scale;
    return
end
% A zero weight that violates its condition is free too, on the side its
% gradient points to: where features are correlated, the gain of moving it
% alone may be a small part of what it gains with the others.
violating = R > 0 & ~nz & F > 0;
free = nz | F == 0 | violating;
free(d.penalty(at) == 0, nc) = false;
signs = sign(Wr);
signs(violating) = sign(G(violating));
signs(F == 0) = 0;
c.sign = zeros(nd, nc);
c.sign(at, :) = signs;
c.gap_zero = 0;
gain = 0;
if any(free(:))
    % Columns, whatever the shapes (one feature makes the arrays rows).
    [q, f, w, sg, am] = deal(G(free), F(free), Wr(free), signs(free), a(free));
    q = q(:) - lambda1 * f(:) .* sg(:) - lambda2 * f(:) .* w(:);
    % The rows of at in order: free's weights in W's order.
    mask = false(nd, nc);
    mask(at, :) = free;
    [x, gain] = newton_direction(d, P, mask, q, am(:), lambda2 * f(:));
    c.step = zeros(nd, nc);
    c.step(mask) = x;
end
c.gap = c.gap_zero + gain / scale;
end

% The Newton direction x = H \ q on the free weights (the logical mask
% free of W's shape), and gain, the quadratic model's q'x/2. A small
% system is solved exactly (newton_exact). A larger one is solved by
% conjugate gradients preconditioned by H's diagonal a, without forming H
% (a product H*v is two products, for each class, by the columns of the
% features with a free weight in it); the iteration stops at 1 % of the
% gain or after 30 steps, and gain counts what the residual still holds
% as the preconditioner estimates it: the step is checked on F itself
% (newton_step), and the distance needs no more digits. h is lambda2
% times the penalty factors of the free weights.
function [x, gain] = newton_direction(d, P, free, q, a, h)
rows = any(free, 2);
Xr = d.X(:, rows);
at = free(rows, :);
s = d.weights;
% A feature whose class weights are all free has a direction H curves by
% lambda2 alone: the same change of all of them, which changes no
% probability. The iteration is kept off it, where it would crawl; row_shift
% has already taken what it holds.
shifts = find(all(at, 2));
% A small system is solved directly: H costs ns * numel(q)^2 to form,
% less than the iteration's products, and its step is exact.
if size(Xr, 1) * numel(q) ^ 2 <= direct_work
    [x, gain] = newton_exact(Xr, P, s, at, h, off_shifts(q, at, shifts), shifts);
    if ~isempty(x)
        return
    end
end
% Where most of the rows' weights are not free, each class takes its own
% columns, at the cost of a product per class: a product by all the rows'
% columns multiplies each class by features whose weight in it is not.
blocks = {};
if 2 * nnz(at) <= numel(at)
    blocks = arrayfun(@(j) Xr(:, at(:, j)), 1:size(at, 2), 'UniformOutput', false);
end
x = zeros(size(q));
r = off_shifts(q, at, shifts);
z = off_shifts(r ./ a, at, shifts);
p = z;
rz = r' * z;
for k = 1:min(numel(q), 30)
    if ~(rz > 1e-2 * max(q' * x, realmin))
        break
    end
    hp = times_h(Xr, at, blocks, P, s, h, p);
    curve = p' * hp;
    if ~(curve > 0)
        break
    end
    alpha = rz / curve;
    x = x + alpha * p;
    r = r - alpha * hp;
    z = off_shifts(r ./ a, at, shifts);
    next = r' * z;
    p = z + (next / rz) * p;
    rz = next;
end
gain = max(0, q' * x + rz) / 2;
end

% Products of H's size up to which newton_direction forms H.
function n = direct_work()
n = 5e6;
end

% newton_direction's step by a Cholesky factor of H, formed from the
% columns Xr, q taken off the shift directions; [] when H is not positive
% definite in doubles. Along a shift direction H is lambda2 alone; adding
% a multiple of the direction's projector makes H well conditioned and
% changes no step off it.
function [x, gain] = newton_exact(Xr, P, s, at, h, q, shifts)
[feature, class] = find(at);
[feature, class] = deal(feature(:), class(:));
Xa = Xr(:, feature);
% H = X_a' diag(s p_j) X_a within each class j, less M' diag(s) M for
% M = X_a .* p: each a product of a matrix by its own transpose, which
% costs half of another, and the first only within the classes.
root = sqrt(s);
M = bsxfun(@times, root, Xa .* P(:, class));
H = -full(M' * M);
for j = unique(class)'
    k = find(class == j);
    Xj = bsxfun(@times, root .* sqrt(P(:, j)), Xa(:, k));
    H(k, k) = H(k, k) + full(Xj' * Xj);
end
H = (H + H') / 2;
n = numel(q);
H(1:n + 1:end) = H(1:n + 1:end) + h';
if ~isempty(shifts)
    S = double(bsxfun(@eq, feature, shifts'));
    S = S * diag(1 ./ sqrt(sum(S, 1)));
    H = H + max(diag(H)) * (S * S');
end
[U, fail] = chol(H);
if fail
    [x, gain] = deal([], 0);
    return
end
x = U \ (U' \ q);
gain = max(0, q' * x) / 2;
end

% v (the free weights' values, at their mask at) less, on each feature of
% shifts, the mean of its class weights.
function v = off_shifts(v, at, shifts)
if ~isempty(shifts)
    V = zeros(size(at));
    V(at) = v;
    V(shifts, :) = bsxfun(@minus, V(shifts, :), sum(V(shifts, :), 2) / size(V, 2));
    v = V(at);
end
end

% H*v for newton_direction: v the free weights' values, at their mask
% over the rows of Xr, in its order (class by class); blocks{j}, when
% given, the columns of class j's.
function hv = times_h(Xr, at, blocks, P, s, h, v)
if isempty(blocks)
    V = zeros(size(at));
    V(at) = v;
    T = full(Xr * V);
else
    T = zeros(size(P));
    edges = [0, cumsum(sum(at, 1))];
    for j = find(diff(edges) > 0)
        T(:, j) = blocks{j} * v(edges(j) + 1:edges(j + 1));
    end
end
T = P .* T;
T = bsxfun(@times, s, T - bsxfun(@times, P, sum(T, 2)));
if isempty(blocks)
    HV = full(Xr' * T);
    hv = HV(at);
    hv = hv(:) + h .* v;
    return
end
hv = h .* v;
for j = find(diff(edges) > 0)
    part = edges(j) + 1:edges(j + 1);
    hv(part) = hv(part) + blocks{j}' * T(:, j);
end
end

% The Newton step of c from W, its length halved until F rises (at most 30
% times); a weight whose sign the step would change stops at zero. better
% is false, and W2 W, when no length raises F; XW is the scores of W2.
function [W2, better, XW] = newton_step(d, W, c, lambda1, lambda2)
better = false;
XW = [];
t = 1;
for h = 1:30
    W2 = W + t * c.step;
    W2(c.sign ~= 0 & sign(W2) ~= c.sign) = 0;
    XW = scores(d, W2);
    [~, logP] = log_softmax(XW);
    if objective(d, W2, logP, lambda1, lambda2) > c.objective
        better = true;
        return
    end
    t = t / 2;
end
[W2, XW] = deal(W, []);
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
[~, logP] = log_softmax(scores(d, Ws));
value = objective(d, Ws, logP, lambda1, lambda2);
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
