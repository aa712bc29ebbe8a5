%DOVEX_FEATURES  The features a model selected, per class, largest weight first.
%   F = DOVEX_FEATURES(model) lists, for each class of a model from
%   dovex_train (or of the refit of a dovex_cv result, cv or cv.model), the
%   features whose weight is not zero, ordered by the weight's magnitude,
%   largest first (ties in the order of the columns).
%   F = DOVEX_FEATURES(path, k) does so for the k-th penalty of a path from
%   dovex_path.
%   DOVEX_FEATURES(...) without an output prints them, a block per class.
%
%   F is a 1-by-nc struct array, one element per class in the order of
%   model.classes, with fields:
%     class    the class, of the type of model.classes
%     index    the columns of X selected, a column vector
%     name     their names, a cell column, when 'FeatureNames' was given to
%              the fit (model.feature_names); {} otherwise
%     weight   their weights, in the units of X as model.W holds them
%   The intercepts are not features and are never listed.
%
%   Errors: dovex_features:badModel, dovex_features:badIndex.
%
%   Example:
%       D = dlmread('data/iris.csv', ',', 1, 0);
%       names = {'sepal length', 'sepal width', 'petal length', 'petal width'};
%       model = dovex_train(D(:,1:4), D(:,5), 'Lambda1', 5, 'FeatureNames', names, ...
%                           'Display', 'off');
%       dovex_features(model)
%       F = dovex_features(model);
%       F(3).name                               % what marks out the third class
%
%   dovex version: unreleased sources
%
%   See also DOVEX_TRAIN, DOVEX_CV, DOVEX_PLOT_PATH.

function F = dovex_features(model, k)
if nargin < 1
    error('dovex_features:badModel', 'usage: F = dovex_features(model)');
end
if isstruct(model) && isscalar(model) && isfield(model, 'model') && ~isfield(model, 'W')
    model = model.model;
end
if ~isstruct(model) || ~isscalar(model) || ~all(isfield(model, {'W', 'classes', 'bias'}))
    error('dovex_features:badModel', ...
          'model must be a struct from dovex_train, dovex_path or dovex_cv.');
end
nk = size(model.W, 3);
if nargin < 2
    if nk ~= 1
        error('dovex_features:badIndex', ...
              'the path holds %d penalties: give dovex_features(path, k) with k from 1 to %d.', ...
              nk, nk);
    end
    k = 1;
end
if ~(isnumeric(k) && isscalar(k) && isreal(k) && k == round(k) && k >= 1 && k <= nk)
    error('dovex_features:badIndex', 'k must be a whole number from 1 to %d.', nk);
end
nd = size(model.W, 1) - double(model.bias);
W = model.W(1:nd, :, k);
names = {};
if isfield(model, 'feature_names') && ~isempty(model.feature_names)
    names = model.feature_names;
end
nc = size(W, 2);
F = struct('class', cell(1, nc), 'index', [], 'name', [], 'weight', []);
for c = 1:nc
    index = find(W(:, c) ~= 0);
    % sort is stable: equal magnitudes keep the order of the columns.
    [~, order] = sort(-abs(W(index, c)));
    index = index(order);
    if ischar(model.classes)
        F(c).class = model.classes(c, :);
    else
        F(c).class = model.classes(c);
    end
    F(c).index = index;
    F(c).name = {};
    if ~isempty(names)
        F(c).name = names(index);
    end
    F(c).weight = W(index, c);
end
if nargout == 0
    for c = 1:nc
        fprintf('class %s: %d features\n', class_text(F(c).class), numel(F(c).index));
        for i = 1:numel(F(c).index)
            if isempty(names)
                label = sprintf('%d', F(c).index(i));
            else
                label = sprintf('%s (%d)', F(c).name{i}, F(c).index(i));
            end
            fprintf('  %12.4g  %s\n', F(c).weight(i), label);
        end
    end
    clear F
end
end

function s = class_text(c)
if iscell(c)
    s = c{1};
elseif ischar(c)
    s = c;
elseif isnumeric(c) || islogical(c)
    s = num2str(double(c));
else
    s = char(c);
end
end

%!function D = bundled (name)
%!  here = fileparts (which ("dovex_features"));
%!  for d = {getenv("DOVEX_DATA_DIR"), fullfile(here, "data"), fullfile(here, "..", "data")}
%!    file = fullfile (d{1}, [name ".csv"]);
%!    if (! isempty (d{1}) && exist (file, "file"))
%!      D = dlmread (file, ",", 1, 0);
%!      return;
%!    endif
%!  endfor
%!  error ("bundled data %s.csv not found", name);
%!endfunction

%!shared X, label, names
%! D = bundled ("iris");
%! [X, label] = deal (D(:,1:4), D(:,5));
%! names = {"sepal length", "sepal width", "petal length", "petal width"};

%!test  # each class's non-zero weights, by magnitude, with the names the fit kept
%! for fit = {@() dovex_train (X, label, "Lambda1", 5, "FeatureNames", names, "Display", "off"), ...
%!            @() dovex_cv (X, label, "Lambda1", [20 5 1], "FeatureNames", names', ...
%!                          "Folds", 3, "Parallel", false)}
%!   model = fit{1} ();
%!   F = dovex_features (model);
%!   if (isfield (model, "model"))
%!     model = model.model;
%!   endif
%!   assert (model.feature_names, names(:));
%!   assert ([F.class], [0 1 2]);
%!   for c = 1:3
%!     w = model.W(1:4,c);
%!     assert (sort (F(c).index), find (w != 0));
%!     assert (F(c).weight, w(F(c).index));
%!     assert (issorted (-abs (F(c).weight)));
%!     assert (F(c).name, names(F(c).index)(:));
%!   endfor
%! endfor
%! out = evalc ("dovex_features (model)");
%! assert (numel (regexp (out, '^class \d: \d features$', "lineanchors")), 3);
%! assert (! isempty (strfind (out, "petal")));

%!test  # a path at penalty k; without names, indices only
%! p = dovex_path (X, label, "Lambda1", [1e6 0.5], "Parallel", false);
%! assert (isempty (p.feature_names));
%! F = dovex_features (p, 1);
%! assert (all (cellfun (@isempty, {F.index})));
%! F = dovex_features (p, 2);
%! assert (F(2).weight, p.W(F(2).index,2,2));
%! assert (F(2).name, {});

%!error id=dovex_features:badModel dovex_features (struct ("W", 1))
%!error id=dovex_features:badIndex dovex_features (dovex_path (X, label, "Lambda1", [2 1], "Parallel", false))
%!error id=dovex_train:badOption dovex_train (X, label, "FeatureNames", names(1:3))
%!error id=dovex_cv:badOption dovex_cv (X, label, "FeatureNames", {1, 2, 3, 4})
