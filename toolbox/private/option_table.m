function T = option_table()
%OPTION_TABLE  Every option of the toolbox, defined once.
%   T = OPTION_TABLE() is a struct array, one element per option and set of
%   functions taking it alike, with fields:
%     name      the option's name, as the help writes it
%     takers    the functions that take it, a cell array of names
%     default   its value when not given ([] for one worked out later)
%     check     @(v) [ok, v]: whether v is a value it takes, and v in the
%               form the functions use
%     what      what it must be, for the error message ("a finite ...")
%     describe  one line saying what it does
%   parse_options reads it; each function's help lists the options it
%   takes, and a test holds the two to each other.

fits = {'dovex_train', 'dovex_path', 'dovex_cv'};
grid = {'dovex_path', 'dovex_cv'};
train = {'dovex_train'};
rows = {
  'Lambda1', train, [], @(v) pass(is_real(v) && isscalar(v) && v >= 0, v), ...
      'a finite scalar of 0 or more', 'the L1 penalty; default 0.05 * lambda1_max'
  'Lambda1', grid, [], @(v) nonnegative_vector(v, 'row'), ...
      'a vector of finite values of 0 or more', 'the grid of L1 penalties, in any order'
  'NumLambda', grid, 20, @(v) pass(is_whole(v, 1, 10000), v), ...
      'a whole number from 1 to 10000', 'the length of the default grid'
  'LambdaMinRatio', grid, 1e-3, @(v) pass(is_real(v) && isscalar(v) && v > 0 && v <= 1, v), ...
      'a scalar above 0 and at most 1', 'the default grid''s smallest lambda1 over lambda1_max'
  'Lambda2', train, [], @(v) pass(is_real(v) && isscalar(v) && v >= 0, v), ...
      'a finite scalar of 0 or more', 'the L2 penalty; default Lambda1 / 10'
  'Lambda2', grid, [], @(v) pass(is_real(v) && isscalar(v) && v >= 0, v), ...
      'a finite scalar of 0 or more', 'a fixed L2 penalty for every fit'
  'Lambda2Ratio', grid, 0.1, @(v) pass(is_real(v) && isscalar(v) && v >= 0, v), ...
      'a finite scalar of 0 or more', 'lambda2 = Lambda2Ratio * lambda1 for each fit'
  'Tol', fits, 1e-7, @(v) pass(is_real(v) && isscalar(v) && v >= 0, v), ...
      'a finite scalar of 0 or more', ['stop once the objective is within Tol of its optimum, ', ...
      'relative, as its optimality conditions say (see dovex_train)']
  'MaxSweeps', fits, 1000, @(v) pass(is_whole(v, 1, 2147483647), v), ...
      'a whole number from 1 to 2147483647', 'the largest number of sweeps of a fit'
  'Bias', fits, true, @flag, ...
      'true or false', 'fit an unpenalised intercept per class'
  'Standardize', fits, true, @flag, ...
      'true or false', 'centre (full X) and scale the features to unit variance for the fit'
  'Weights', fits, [], @(v) nonnegative_vector(v, 'column'), ...
      'a vector of finite values of 0 or more', 'one weight per sample'
  'ClassWeight', fits, [], @class_weight, ...
      '''balanced'' or a vector of finite values of 0 or more', 'one weight per class, or ''balanced'''
  'PenaltyFactor', fits, [], @(v) nonnegative_vector(v, 'column'), ...
      'a vector of finite values of 0 or more', 'one factor per feature on both penalties'
  'Offset', fits, [], @(v) pass(isa(v, 'double') && isreal(v) && ndims(v) == 2 && ...
      ~issparse(v) && all(isfinite(v(:))), v), ...
      'a full, finite, real double matrix', 'fixed scores per sample and class added to X*W'
  'FeatureNames', fits, [], @feature_names, ...
      'a cell array of char vectors or a string array', 'a name per column of X, kept by the model'
  'Seed', train, [], @(v) pass(is_whole(v, 0, 4294967295), v), ...
      'a whole number from 0 to 4294967295', 'dovex_seed(Seed) right before the fit'
  'Seed', grid, 0, @(v) pass(is_whole(v, 0, 4294967295), v), ...
      'a whole number from 0 to 4294967295', 'the folds'' and the first fit''s seed'
  'Display', train, 'sweeps', @(v) choice(v, {'sweeps', 'final', 'off'}), ...
      'one of ''sweeps'', ''final'', ''off''', 'what the fit prints'
  'Display', grid, 'off', @(v) choice(v, {'final', 'off'}), ...
      'one of ''final'', ''off''', 'one line per fit, or nothing'
  'WarmStart', grid, true, @flag, ...
      'true or false', 'each fit starting from the one at the next larger lambda1'
  'Parallel', grid, 'auto', @parallel, ...
      '''auto'', true or false', 'whether the fits run on the host''s parallel engine'
  'Workers', grid, [], @(v) pass(is_whole(v, 1, 1024), v), ...
      'a whole number from 1 to 1024', 'the number of worker processes'
  'Folds', {'dovex_cv'}, 5, @(v) pass(is_whole(v, 2, Inf), v), ...
      'a whole number of 2 or more', 'the number of folds'
  'Select', {'dovex_cv'}, 'min', @(v) choice(v, {'min', '1se'}), ...
      'one of ''min'', ''1se''', 'the penalty of the refit'
  'FoldId', {'dovex_cv'}, [], @fold_ids, ...
      'a vector of whole numbers of 1 or more', 'each sample''s fold'
  'Groups', {'dovex_cv'}, [], @groups, ...
      'a vector of finite numbers, a char matrix, or a cell array of char vectors', ...
      'each sample''s group, never split across folds'
  'Measure', {'dovex_cv'}, 'loss', @(v) choice(v, {'loss', 'error', 'balanced', 'auc'}), ...
      'one of ''loss'', ''error'', ''balanced'', ''auc''', 'the held-out measure that chooses'
  'Axes', {'dovex_plot_cv', 'dovex_plot_weights'}, [], @axes_handles, ...
      'axes handles', 'axes of one''s own to draw into'
  'Order', {'dovex_plot_weights'}, 'column', @(v) choice(v, {'column', 'row'}), ...
      'one of ''column'', ''row''', 'the order of the pixels in a row of X'
};
T = cell2struct(rows, {'name', 'takers', 'default', 'check', 'what', 'describe'}, 2);
% A permutation test runs dovex_cv's pipeline: it takes all its options.
for k = 1:numel(T)
    if any(strcmp('dovex_cv', T(k).takers))
        T(k).takers{end+1} = 'dovex_permtest';
    end
end
T(end+1) = struct('name', 'NumPermutations', 'takers', {{'dovex_permtest'}}, 'default', 1000, ...
    'check', @(v) pass(is_whole(v, 1, 1e9), v), 'what', 'a whole number from 1 to 1e9', ...
    'describe', 'the number of label permutations');
end

function [ok, v] = pass(ok, v)
if ok && isnumeric(v)
    v = double(v);
end
end

function [ok, v] = nonnegative_vector(v, shape)
[ok, v] = pass(is_real(v) && isvector(v) && all(v(:) >= 0), v);
if ok && strcmp(shape, 'row')
    v = v(:)';
elseif ok
    v = v(:);
end
end

function [ok, v] = flag(v)
ok = is_flag(v);
if ok
    v = logical(v);
end
end

function [ok, v] = choice(v, choices)
v = lower(text_of(v));
ok = any(strcmp(v, choices));
end

function [ok, v] = parallel(v)
if is_flag(v)
    [ok, v] = deal(true, logical(v));
else
    [ok, v] = choice(v, {'auto'});
end
end

function [ok, v] = class_weight(v)
if ~isempty(text_of(v))
    [ok, v] = choice(v, {'balanced'});
else
    [ok, v] = nonnegative_vector(v, 'column');
end
end

function [ok, v] = fold_ids(v)
[ok, v] = nonnegative_vector(v, 'column');
ok = ok && all(v == round(v)) && all(v >= 1);
end

% Names as a column cell array of char rows.
function [ok, v] = feature_names(v)
if isa(v, 'string')
    v = cellstr(v);
end
ok = iscellstr(v) && all(cellfun(@(c) size(c, 1) <= 1, v(:)));
v = v(:);
end

% Group labels as numbers 1..ng, in a column.
function [ok, v] = groups(v)
ok = true;
if ischar(v) && ~isempty(v)
    [~, ~, v] = unique(v, 'rows');
elseif iscellstr(v) && ~isempty(v) || isa(v, 'string') && ~isempty(v)
    [~, ~, v] = unique(v(:));
elseif (isnumeric(v) || islogical(v)) && isreal(v) && ~isempty(v) && isvector(v) && ...
        all(isfinite(double(v(:))))
    [~, ~, v] = unique(full(double(v(:))));
else
    ok = false;
end
v = double(v(:));
end

function [ok, v] = axes_handles(v)
ok = ~isempty(v) && isnumeric(v) || isa(v, 'matlab.graphics.axis.Axes');
ok = ok && all(ishghandle(v(:))) && all(strcmp(get(v(:), 'type'), 'axes'));
if ok
    v = v(:)';
end
end

% A char row vector or a string scalar as char; '' for anything else.
function s = text_of(v)
s = '';
if ischar(v) && size(v, 1) == 1
    s = v;
elseif isa(v, 'string') && isscalar(v)
    s = char(v);
end
end

function ok = is_real(v)
ok = isnumeric(v) && isreal(v) && ~isempty(v) && ~issparse(v) && all(isfinite(double(v(:))));
end

function ok = is_whole(v, lo, hi)
ok = is_real(v) && isscalar(v) && double(v) == round(double(v)) && v >= lo && v <= hi;
end

function ok = is_flag(v)
ok = (islogical(v) || isnumeric(v)) && isscalar(v) && isreal(v) && (v == 0 || v == 1);
end
