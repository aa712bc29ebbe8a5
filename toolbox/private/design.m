function d = design(fname, X, y, nc, opts)
%DESIGN  The inputs of the dovex_solve calls a fit stands for.
%   d = DESIGN(fname, X, y, nc, opts) gives, for data X (ns-by-nd), classes
%   y (1..nc) and the options Standardize, Bias, Offset, Weights,
%   ClassWeight and PenaltyFactor in opts:
%     d.X          the fit's data: X standardised (full with Bias:
%                  centred, then divided by the standard deviation;
%                  sparse or without Bias: divided only), then a column
%                  of ones when opts.Bias
%     d.Y          the one-hot targets, ns-by-nc
%     d.offset     the fixed scores, ns-by-nc (zeros without an Offset)
%     d.weights    ns-by-1 sample weights, Weights times the class weights
%     d.penalty    the penalty factor of each column of d.X, 0 for the bias
%     d.W0         the null model: zero weights for the features, and the
%                  intercepts that give each class its weighted training
%                  frequency (with the offset added)
%     d.P0         the null model's class probabilities
%     d.lambda1_max  the smallest lambda1 at which every feature's weight
%                  stays zero from the null model, up to a part in 1e9 for
%                  rounding: the largest
%                  |d.X(:,i)' * (d.weights .* (d.Y(:,j) - d.P0(:,j)))| /
%                  d.penalty(i) over the features of factor above 0
%     d.center, d.scale  1-by-nd: what was subtracted from each column and
%                  what it was divided by (zeros and ones without
%                  Standardize; scale may be Inf beyond the range of
%                  doubles, which the back transform never forms)
%     d.norm, d.spread, d.shift  1-by-nd with scale = norm .* spread: each
%                  column's largest magnitude, the standard deviation of
%                  the column divided by it, and the mean of that column
%                  over spread. The back transform divides a weight by
%                  spread, then by norm, and takes shift times the fit's
%                  weights from the intercept
%     d.constant   1-by-nd, the columns without spread, whose weights the
%                  fit keeps at zero (their column of d.X is zero)
%   Raises fname:badOption for a Weights, ClassWeight, PenaltyFactor or
%   FeatureNames of the wrong length, or classes of no weight.

[ns, nd] = size(X);
id = [fname ':badOption'];
d.Y = zeros(ns, nc);
d.Y(sub2ind([ns nc], (1:ns)', y(:))) = 1;
d.weights = sample_weights(id, opts, y, nc, ns);

if isfield(opts, 'FeatureNames') && ~isempty(opts.FeatureNames) && numel(opts.FeatureNames) ~= nd
    error(id, 'option ''FeatureNames'' must have %d names, one per column of X; it has %d.', ...
          nd, numel(opts.FeatureNames));
end
penalty = opts.PenaltyFactor;
if isempty(penalty)
    penalty = ones(nd, 1);
elseif numel(penalty) ~= nd
    error(id, 'option ''PenaltyFactor'' must have %d values, one per column of X; it has %d.', ...
          nd, numel(penalty));
end

[d.norm, d.spread] = deal(ones(1, nd));
[d.center, d.shift] = deal(zeros(1, nd));
d.constant = false(1, nd);
if opts.Standardize
    % Without an intercept to take it up, the centring would change the
    % model: then X is scaled only, as a sparse X always is.
    [X, d.norm, d.spread, mu, d.constant] = standardise(X, opts.Bias && ~issparse(X));
    d.center = mu .* d.norm;
    d.shift = mu ./ d.spread;
end
d.scale = d.norm .* d.spread;

if isempty(opts.Offset)
    d.offset = zeros(ns, nc);
else
    if ~isequal(size(opts.Offset), [ns nc])
        error(id, 'option ''Offset'' must be %dx%d, one score per sample and class; it is %s.', ...
              ns, nc, sprintf('%dx%d', size(opts.Offset)));
    end
    d.offset = opts.Offset;
end

b = zeros(1, nc);
if opts.Bias
    X = [X, ones(ns, 1)];
    d.penalty = [penalty; 0];
    if any(accumarray(y(:), d.weights, [nc 1]) <= 0)
        error(id, ['every class needs samples of weight above 0 for the intercept; ', ...
                   '%d classes have none.'], nnz(accumarray(y(:), d.weights, [nc 1]) <= 0));
    end
    b = null_intercepts(d.Y, d.offset, d.weights);
    d.W0 = [zeros(nd, nc); b];
else
    d.penalty = penalty;
    d.W0 = zeros(nd, nc);
end
d.X = X;
d.P0 = log_softmax(bsxfun(@plus, d.offset, b));

features = find(penalty > 0);
if isempty(features) || ns == 0
    d.lambda1_max = 0;
else
    % All of X' times the residual, then the rows of the features: cheaper
    % than a copy of their columns when they are most of X.
    G = X' * bsxfun(@times, d.weights, d.Y - d.P0);
    G = G(features, :);
    % Raised by a part in 1e9, so that the rounding of the fit's own sums
    % of the gradient cannot let a weight in at the grid's first penalty.
    d.lambda1_max = full(max(max(abs(bsxfun(@rdivide, G, penalty(features)))))) * (1 + 1e-9);
end
end

% Weights times the class weights, ns-by-1.
function s = sample_weights(id, opts, y, nc, ns)
s = opts.Weights;
if isempty(s)
    s = ones(ns, 1);
elseif numel(s) ~= ns
    error(id, 'option ''Weights'' must have %d values, one per sample; it has %d.', ns, numel(s));
end
cw = opts.ClassWeight;
if ischar(cw)
    % As scikit-learn defines 'balanced': ns / (nc * the class's count).
    counts = accumarray(y(:), 1, [nc 1]);
    cw = ns ./ (nc * counts);
elseif ~isempty(cw) && numel(cw) ~= nc
    error(id, 'option ''ClassWeight'' must have %d values, one per class; it has %d.', ...
          nc, numel(cw));
end
if ~isempty(cw)
    s = s .* cw(y(:));
end
end

% The intercepts of the null model: those at which each class's predicted
% weighted frequency is its training one. Without an offset they are the
% logarithms of the frequencies; with one, generalised iterative
% scaling, which rises monotonically to them, from that start.
function b = null_intercepts(Y, offset, s)
target = s' * Y;
% Not centred: the probabilities ignore a constant added to every
% intercept, and intercepts well away from zero keep the rounding of their
% steps from reading as a large relative change of W.
b = log(target / sum(target));
if any(offset(:))
    for it = 1:1000
        P = log_softmax(bsxfun(@plus, offset, b));
        step = log(target) - log(s' * P);
        b = b + step;
        if max(abs(step)) <= 1e-13
            break
        end
    end
end
end

% Centres X when centre is true (never a sparse X, which would turn full)
% and divides it by each column's standard deviation, normalised by ns - 1. Each column is
% first divided by its largest magnitude, so no square overflows or
% underflows whatever its range: the spread is that of the divided column,
% and the standardised column is (X/norm - mu) / spread. A column without
% spread is set to zero.
function [X, norm, spread, mu, constant] = standardise(X, centre)
[ns, nd] = size(X);
% Largest magnitudes without a copy of X (abs would make one).
norm = full(max(max(X, [], 1), -min(X, [], 1)));
if isempty(norm)
    norm = zeros(1, nd);
end
norm(~(norm > 0)) = 1;
if issparse(X)
    [i, j, v] = find(X);
    [i, j, v] = deal(i(:), j(:), v(:) ./ norm(j(:))');
    total = accumarray(j, v, [nd 1])';
    mu = total / ns;
    nonzero = accumarray(j, 1, [nd 1])';
    squares = accumarray(j, (v - mu(j)') .^ 2, [nd 1])' + (ns - nonzero) .* mu .^ 2;
    spread = sqrt(squares / (ns - 1));
    constant = ~(spread > 0);
    spread(constant) = 1;
    keep = ~constant(j)';
    X = sparse(i(keep), j(keep), v(keep) ./ spread(j(keep))', ns, nd);
    mu = zeros(1, nd);
else
    X = bsxfun(@rdivide, X, norm);
    mu = sum(X, 1) / ns;
    centred = bsxfun(@minus, X, mu);
    spread = sqrt(dot(centred, centred, 1) / (ns - 1));
    constant = ~(spread > 0);
    spread(constant) = 1;
    if centre
        X = centred;
    end
    centred = [];
    X = bsxfun(@rdivide, X, spread);
    X(:, constant) = 0;
    mu(constant | ~centre) = 0;
end
end
