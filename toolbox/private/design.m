function d = design(fname, X, y, nc, opts)
%DESIGN  The inputs of the dovex_fit call a fit stands for.
%   d = DESIGN(fname, X, y, nc, opts) gives, for data X (ns-by-nd), classes
%   y (1..nc) and the options Standardize, Bias and Offset in opts:
%     d.X           the fit's data: X, its columns divided by d.scale when
%                   standardised, then a column of ones when opts.Bias
%     d.Y           the one-hot targets, ns-by-nc
%     d.XW, d.E, d.Z  the starting state: the offset, exp of it, row sums
%     d.scale       1-by-nd divisors of the columns, or [] if not standardised
%     d.lambda1_max the smallest lambda1 at which every weight stays zero
%                   from the all-zero start: max |d.X' * (d.Y - P0)|, with
%                   P0 the class probabilities of the starting state
%   An offset of the wrong size raises fname:badOption, one whose exp
%   overflows fname:offsetOverflow.

[ns, nd] = size(X);
d.scale = [];
if opts.Standardize
    % No centring, so that zeros stay zeros (and sparse data sparse). A
    % column without spread is left as it is.
    s = column_std(X);
    s(~(s > 0)) = 1;
    d.scale = s;
    if issparse(X)
        % Only the stored values are divided, as X ./ s divides them.
        [i, j, v] = find(X);
        sc = s(:);
        X = sparse(i(:), j(:), v(:) ./ sc(j(:)), ns, nd);
    else
        X = bsxfun(@rdivide, X, s);
    end
end
if opts.Bias
    X = [X, ones(ns, 1)];
end
d.X = X;

d.Y = zeros(ns, nc);
d.Y(sub2ind([ns nc], (1:ns)', y)) = 1;

if isempty(opts.Offset)
    d.XW = zeros(ns, nc);
    d.E = ones(ns, nc);
    d.Z = nc * ones(ns, 1);
    P0 = 1 / nc;
else
    if ~isequal(size(opts.Offset), [ns nc])
        error([fname ':badOption'], ...
              'option ''Offset'' must be %dx%d, one score per sample and class; it is %s.', ...
              ns, nc, sprintf('%dx%d', size(opts.Offset)));
    end
    d.XW = opts.Offset;
    d.E = exp(d.XW);
    d.Z = sum(d.E, 2);
    if ~all(isfinite(d.Z))
        error([fname ':offsetOverflow'], ...
              ['exp(Offset) overflows in %d samples; the fit needs exp of every score ', ...
               'and of their sums per sample. Subtract each row''s largest score.'], ...
              nnz(~isfinite(d.Z)));
    end
    P0 = bsxfun(@rdivide, d.E, d.Z);
end
d.lambda1_max = full(max(max(abs(X' * (d.Y - P0)))));
if isempty(d.lambda1_max)
    d.lambda1_max = 0;
end
end

% The standard deviation of each column (normalised by ns - 1), 1-by-nd,
% from the non-zero values and the number of zeros, without forming X minus
% its mean (which would be full for a sparse X). Full and sparse X take
% the same steps, so sparse(X) is scaled with the bits of X; it agrees with
% std(X) up to rounding.
function s = column_std(X)
[ns, nd] = size(X);
[~, j, v] = find(X);
[j, v] = deal(j(:), v(:));
mu = full(sum(X, 1))' / ns;
nonzero = accumarray(j, 1, [nd 1]);
squares = accumarray(j, (v - mu(j)) .^ 2, [nd 1]) + (ns - nonzero) .* mu .^ 2;
s = sqrt(squares / (ns - 1))';
end
