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
        if ~all(isfinite(Ws(:)))
            failure = ['the fit overflowed: some scores went beyond what exp can take and ', ...
                       'W turned to NaN'];
        end
    catch err
        [Ws, info] = deal(NaN(size(d.W0)), struct('sweeps', 0, 'diffs', zeros(0, 1), ...
                          'visits', zeros(0, 1), 'converged', false));
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

function [Ws, info] = solve(d, W0, lambda1, lambda2, opts, show, header)
XW = d.offset + full(d.X * W0);
% A constant per row changes no probability and keeps exp in range.
XW = bsxfun(@minus, XW, max(XW, [], 2));
E = exp(XW);
Z = sum(E, 2);
extra = struct('display', show);
if any(d.penalty ~= 1)
    extra.penalty = d.penalty;
end
if any(d.weights ~= 1)
    extra.weights = d.weights;
end
args = {d.X, d.Y, W0, XW, E, Z, lambda1, lambda2, opts.Tol, opts.MaxSweeps, extra};
if show
    [Ws, info] = run_fit(header, args);
else
    [Ws, info] = dovex_solve(args{:});
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
    'sweeps', info.sweeps, 'converged', logical(info.converged), 'record', record, ...
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
