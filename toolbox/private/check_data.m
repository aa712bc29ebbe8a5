function [X, y, classes] = check_data(fname, X, labels)
%CHECK_DATA  Check the data of a fit and number its classes.
%   [X, y, classes] = CHECK_DATA(fname, X, labels) raises fname:notDouble,
%   fname:notFinite, fname:sizeMismatch, fname:badLabels or fname:oneClass
%   for data no fit can take. classes are the sorted unique labels, of the
%   labels' own type (a column, or the rows of a char matrix), and y(k) is
%   the number of sample k's class in them.

if ~isa(X, 'double') || ~isreal(X) || ndims(X) ~= 2
    error([fname ':notDouble'], ...
          'X must be a real double matrix, one row per sample; it is %s.', describe(X));
end
if issparse(X)
    bad = ~isfinite(nonzeros(X));
else
    bad = ~isfinite(X(:));
end
if any(bad)
    error([fname ':notFinite'], 'X must be finite; it has %d NaN or Inf values.', nnz(bad));
end

ns = size(X, 1);
if ischar(labels)
    n = size(labels, 1);
    what = 'rows';
else
    n = numel(labels);
    what = 'labels';
end
if n ~= ns
    error([fname ':sizeMismatch'], ...
          'labels must have %d %s, one per row of X; it has %d.', ns, what, n);
end
if ~ischar(labels) && ns > 1 && ~isvector(labels)
    error([fname ':badLabels'], 'labels must be a vector; it is %s.', describe(labels));
end

if ischar(labels)
    [classes, ~, y] = unique(labels, 'rows');
elseif iscell(labels)
    if ~iscellstr(labels) || ~all(cellfun(@(c) size(c, 1) <= 1, labels(:)))
        error([fname ':badLabels'], ...
              'labels in a cell array must all be character vectors.');
    end
    [classes, ~, y] = unique(labels(:));
elseif isnumeric(labels) || islogical(labels)
    if ~isreal(labels) || ~all(isfinite(double(labels(:))))
        error([fname ':badLabels'], 'numeric labels must be real and finite, not NaN or Inf.');
    end
    [classes, ~, y] = unique(full(labels(:)));
elseif isa(labels, 'string')
    if any(ismissing(labels(:)))
        error([fname ':badLabels'], 'labels must not be missing strings.');
    end
    [classes, ~, y] = unique(labels(:));
elseif isa(labels, 'categorical')
    if any(isundefined(labels(:)))
        error([fname ':badLabels'], 'labels must not be undefined categories.');
    end
    [classes, ~, y] = unique(labels(:));
else
    error([fname ':badLabels'], ['labels must be numeric, logical, a char matrix, ', ...
          'a cell array of char vectors, a string or a categorical array; it is %s.'], ...
          describe(labels));
end
y = double(y(:));

if ischar(classes)
    nc = size(classes, 1);
else
    nc = numel(classes);
end
if nc < 2
    error([fname ':oneClass'], 'labels must hold at least two classes; they hold %d.', nc);
end
end

% 'a 3x4 single matrix' and the like, for messages.
function s = describe(a)
d = sprintf('x%d', size(a));
s = sprintf('%s %s', d(2:end), class(a));
if isnumeric(a) && ~isreal(a)
    s = [s ' (complex)'];
end
end
