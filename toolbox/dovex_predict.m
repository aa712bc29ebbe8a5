%DOVEX_PREDICT  Classify samples with a model from dovex_train or dovex_path.
%   [labels, P, scores] = DOVEX_PREDICT(model, X) classifies the rows of X
%   with a model from dovex_train, or with the refit of a cross-validation
%   from dovex_cv (cv itself, or cv.model).
%   [...] = DOVEX_PREDICT(path, X, k) uses the k-th penalty of a path from
%   dovex_path.
%   [...] = DOVEX_PREDICT(cv, X, 'min') or (cv, X, '1se') uses the fit of
%   all samples at cv's penalty of that choice (cv.model_min, cv.model_1se).
%
%   X        n-by-nd real double matrix with the columns of the data the
%            model was fitted to (without the bias column); finite; full or
%            sparse.
%   scores   n-by-nc: X*W plus the bias row, in the units of X (a
%            standardised model's W is already scaled back, and its
%            centring is in the bias row). A model fitted
%            with an Offset does not add it: add the offset's rows to
%            scores and take dovex_predict's softmax yourself if needed.
%   P        n-by-nc class probabilities, the softmax of scores, computed
%            from each row's largest score so that huge scores neither
%            overflow nor give NaN; rows sum to 1.
%   labels   the most probable class of each row (the first on a tie), of
%            the type of model.classes: a column, or a char matrix.
%
%   Errors: dovex_predict:badModel, dovex_predict:badIndex,
%   dovex_predict:notDouble, dovex_predict:notFinite, dovex_predict:badSize.
%
%   Example:
%       D = dlmread('data/iris.csv', ',', 1, 0);
%       model = dovex_train(D(1:2:end,1:4), D(1:2:end,5), 'Display', 'off');
%       [labels, P] = dovex_predict(model, D(2:2:end,1:4));
%       mean(labels == D(2:2:end,5))                % held-out accuracy
%       cv = dovex_cv(D(:,1:4), D(:,5), 'Lambda1', logspace(1, -1, 6));
%       sparser = dovex_predict(cv, D(:,1:4), '1se');
%
%   dovex version: unreleased sources
%
%   See also DOVEX_TRAIN, DOVEX_PATH, DOVEX_CV.

function [labels, P, scores] = dovex_predict(model, X, k)
if nargin < 2
    error('dovex_predict:badModel', 'usage: [labels, P, scores] = dovex_predict(model, X)');
end
if isstruct(model) && isscalar(model) && isfield(model, 'model') && ~isfield(model, 'W')
    % A cross-validation predicts with its refit, or at either choice.
    if nargin < 3
        model = model.model;
    elseif (ischar(k) || isa(k, 'string')) && any(strcmpi(k, {'min', '1se'})) && ...
            isfield(model, 'model_min')
        model = model.(['model_' lower(char(k))]);
        k = 1;
    else
        error('dovex_predict:badIndex', ...
              'a cross-validation predicts at ''min'' or ''1se'': dovex_predict(cv, X, ''min'').');
    end
end
if ~isstruct(model) || ~isscalar(model) || ~all(isfield(model, {'W', 'classes', 'bias'}))
    error('dovex_predict:badModel', ...
          'model must be a struct from dovex_train, dovex_path or dovex_cv.');
end
W = model.W;
nk = size(W, 3);
if nargin < 3
    if nk ~= 1
        error('dovex_predict:badIndex', ...
              'the path holds %d penalties: give dovex_predict(path, X, k) with k from 1 to %d.', ...
              nk, nk);
    end
    k = 1;
end
if ~(isnumeric(k) && isscalar(k) && isreal(k) && k == round(k) && k >= 1 && k <= nk)
    error('dovex_predict:badIndex', 'k must be a whole number from 1 to %d.', nk);
end
W = W(:, :, k);

if ~isa(X, 'double') || ~isreal(X) || ndims(X) ~= 2
    error('dovex_predict:notDouble', 'X must be a real double matrix; it is %s %s.', ...
          size_text(X), class(X));
end
nd = size(W, 1) - double(model.bias);
if size(X, 2) ~= nd
    error('dovex_predict:badSize', ...
          'X must have %d columns, as the data the model was fitted to; it has %d.', ...
          nd, size(X, 2));
end
if issparse(X)
    finite = all(isfinite(nonzeros(X)));
else
    finite = all(isfinite(X(:)));
end
if ~finite
    error('dovex_predict:notFinite', 'X must be finite; it has NaN or Inf values.');
end

scores = full(X * W(1:nd, :));
if model.bias
    scores = bsxfun(@plus, scores, W(end, :));
end
P = log_softmax(scores);
[~, best] = max(P, [], 2);
if ischar(model.classes)
    labels = model.classes(best, :);
else
    labels = model.classes(best);
    labels = labels(:);
end
end

function s = size_text(a)
s = sprintf('x%d', size(a));
s = s(2:end);
end

%!shared X, label, model
%! ## two well-separated classes and a third between them, 3 features
%! t = (1:60)';
%! X = [mod(t * 7, 11) / 11, mod(t * 5, 13) / 13, floor((t - 1) / 20)];
%! label = floor ((t - 1) / 20) + 1;
%! model = dovex_train (X, label, "Lambda1", 0.5, "Seed", 1, "Display", "off");

%!test  # every label type comes back as itself, in the classes' order
%! to = {@(l) l * 10 - 5, @(l) int8 (l) - 2, @(l) uint16 (l), @(l) {"setosa"; "versicolor"; "virginica"}(l), ...
%!       @(l) ["b "; "a "; "cc"](l,:)};
%! if (exist ("string"))
%!   to{end+1} = @(l) string ({"x"; "y"; "z"}(l));
%! endif
%! if (exist ("categorical"))
%!   to{end+1} = @(l) categorical (l, [3 2 1], {"three", "two", "one"});
%! endif
%! for i = 1:numel (to)
%!   labels = to{i} (label);
%!   m = dovex_train (X, labels, "Lambda1", 0.5, "Seed", 1, "Display", "off");
%!   assert (class (m.classes), class (labels));
%!   predicted = dovex_predict (m, X);
%!   assert (class (predicted), class (labels));
%!   ## the same fit whatever the labels' type, once the classes sort alike
%!   if (ischar (labels))
%!     [~, ~, index] = unique (labels, "rows");
%!     same = all (predicted == labels, 2);
%!   else
%!     [~, ~, index] = unique (labels);
%!     same = arrayfun (@(k) isequal (predicted(k), labels(k)), (1:60)');
%!   endif
%!   if (issorted (index(1:20:end)))
%!     assert (typecast (m.W(:), "uint64"), typecast (model.W(:), "uint64"));
%!   endif
%!   assert (mean (same) > 0.9);
%! endfor

%!test  # logical labels: two classes, false first
%! m = dovex_train (X, label > 1, "Lambda1", 0.5, "Display", "off");
%! assert (m.classes, [false; true]);
%! predicted = dovex_predict (m, X);
%! assert (islogical (predicted) && iscolumn (predicted));
%! assert (mean (predicted == (label > 1)) > 0.9);

%!test  # P is the softmax of the scores, which are X*W plus the bias
%! [labels, P, scores] = dovex_predict (model, X);
%! assert (scores, X * model.W(1:3,:) + model.W(4,:), 1e-12);
%! direct = exp (scores) ./ sum (exp (scores), 2);
%! assert (P, direct, 1e-14);
%! assert (sum (P, 2), ones (60, 1), 1e-14);
%! [~, best] = max (direct, [], 2);
%! assert (labels, model.classes(best));

%!test  # extreme scores: no overflow, no NaN, rows still sum to 1
%! m = model;
%! m.W = [1e300, -1e300, 0; 0, 0, 0; 0, 0, 0; 0, 0, 0];
%! [labels, P] = dovex_predict (m, [1 0 0; -1 0 0; 0 0 0; 1e10 0 0]);
%! assert (P, [1 0 0; 0 1 0; 1/3 1/3 1/3; 1 0 0]);
%! assert (labels, [1; 2; 1; 1]);
%! m.W = [1e308, 1e308, -1e308; zeros(3, 3)];
%! [labels, P, scores] = dovex_predict (m, [10 0 0; -10 0 0]);
%! assert (scores, [Inf Inf -Inf; -Inf -Inf Inf]);
%! assert (P, [0.5 0.5 0; 0 0 1]);
%! assert (labels, [1; 3]);

%!test  # a sparse X: the scores, probabilities and labels of full(X)
%! S = sparse (X .* (X > 0.5));
%! [l_full, P_full, s_full] = dovex_predict (model, full (S));
%! [l, P, s] = dovex_predict (model, S);
%! assert (! issparse (s) && ! issparse (P));
%! assert (s, s_full, 1e-14 * max (abs (s_full(:))));
%! assert (P, P_full, 1e-14);
%! assert (l, l_full);

%!test  # no bias row: W has one row per column of X
%! m = dovex_train (X, label, "Bias", false, "Lambda1", 0.5, "Display", "off");
%! [~, ~, scores] = dovex_predict (m, X);
%! assert (scores, X * m.W);

%!test  # a char matrix of classes gives rows back; no samples gives no labels
%! m = dovex_train (X, ["b "; "a "; "cc"](label,:), "Lambda1", 0.5, "Display", "off");
%! assert (m.classes, ["a "; "b "; "cc"]);
%! assert (size (dovex_predict (m, X)), [60 2]);
%! [labels, P] = dovex_predict (model, zeros (0, 3));
%! assert (size (labels), [0 1]);
%! assert (size (P), [0 3]);

%!error id=dovex_predict:badModel dovex_predict (struct ("W", 1), X)
%!error id=dovex_predict:badModel dovex_predict (X, X)
%!error id=dovex_predict:badModel dovex_predict (model)
%!error id=dovex_predict:notDouble dovex_predict (model, single (X))
%!error id=dovex_predict:notDouble dovex_predict (model, X + 1i)
%!error id=dovex_predict:badSize dovex_predict (model, X(:,1:2))
%!error id=dovex_predict:badSize dovex_predict (model, [X, X(:,1)])
%!error id=dovex_predict:notFinite dovex_predict (model, [X(1:end-1,:); 1 NaN 1])
%!error id=dovex_predict:badIndex dovex_predict (model, X, 2)
%!error <X must have 3 columns, as the data the model was fitted to; it has 2> dovex_predict (model, X(:,1:2))
