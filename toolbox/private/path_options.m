function [opts, train_args, lambda1, lambda2, d] = path_options(fname, X, y, nc, args, extra)
%PATH_OPTIONS  The options of dovex_path and dovex_cv, and their penalty grid.
%   Reads the options in args (dovex_path's, plus the names in extra),
%   fills in the defaults, and gives the grid: lambda1 and lambda2 (rows of
%   the same length) and the design d of the whole data, whose lambda1_max
%   sets the default grid: NumLambda values from lambda1_max down to
%   LambdaMinRatio * lambda1_max, evenly spaced in log. train_args are the options every dovex_train
%   call of the grid shares. Raises fname:badOption for any bad option,
%   before any fit.

names = [{'Lambda1', 'NumLambda', 'LambdaMinRatio', 'Lambda2Ratio', 'Lambda2', 'Tol', 'MaxSweeps', 'Bias', ...
          'Standardize', 'Offset', 'Seed', 'Display', 'Parallel', 'Workers'}, extra];
opts = parse_options(fname, args, names);
if isfield(opts, 'Lambda2') && isfield(opts, 'Lambda2Ratio')
    error([fname ':badOption'], 'give ''Lambda2'' or ''Lambda2Ratio'', not both.');
end
if isfield(opts, 'Lambda1') && (isfield(opts, 'NumLambda') || isfield(opts, 'LambdaMinRatio'))
    error([fname ':badOption'], ...
          'give ''Lambda1'', or ''NumLambda'' and ''LambdaMinRatio'' for its grid, not both.');
end
opts = with_defaults(opts, struct('Lambda1', [], 'NumLambda', 20, 'LambdaMinRatio', 1e-3, ...
    'Lambda2Ratio', 0.1, 'Lambda2', [], ...
    'Tol', 1e-4, 'MaxSweeps', 1000, 'Bias', true, 'Standardize', false, 'Offset', [], ...
    'Seed', 0, 'Display', 'off', 'Parallel', 'auto', 'Workers', [], 'Folds', 5, ...
    'Select', 'min'));

d = design(fname, X, y, nc, opts);
lambda1 = opts.Lambda1;
if isempty(lambda1)
    % In this form the default grid keeps the bits it has always had.
    steps = max(opts.NumLambda - 1, 1);
    lambda1 = d.lambda1_max * 10 .^ (log10(opts.LambdaMinRatio) * (0:opts.NumLambda-1) / steps);
end
if isempty(opts.Lambda2)
    lambda2 = opts.Lambda2Ratio * lambda1;
else
    lambda2 = opts.Lambda2 * ones(size(lambda1));
end
if opts.Seed + numel(lambda1) - 1 > 4294967295
    error([fname ':badOption'], ...
          'option ''Seed'' plus the %d penalties must stay below 4294967296.', numel(lambda1));
end
train_args = {'Tol', opts.Tol, 'MaxSweeps', opts.MaxSweeps, 'Bias', opts.Bias, ...
              'Standardize', opts.Standardize};
end
