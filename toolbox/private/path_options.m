function [opts, lambda1, lambda2, d, given] = path_options(fname, X, y, nc, args)
%PATH_OPTIONS  The options of dovex_path and dovex_cv, and their penalty grid.
%   Reads the options in args, and gives the grid: lambda1 and lambda2
%   (rows of the same length) and the design d of the whole data, whose
%   lambda1_max sets the default grid: NumLambda values from lambda1_max
%   down to LambdaMinRatio * lambda1_max, evenly spaced in log. In opts,
%   Weights become the whole data's sample weights, class weights
%   included, and ClassWeight is emptied, so that a subset of the samples
%   keeps its samples' weights. given has a field for each option given.
%   Raises fname:badOption for any bad option,
%   before any fit.

[opts, given] = parse_options(fname, args);
if isfield(given, 'Lambda2') && isfield(given, 'Lambda2Ratio')
    error([fname ':badOption'], 'give ''Lambda2'' or ''Lambda2Ratio'', not both.');
end
if isfield(given, 'Lambda1') && (isfield(given, 'NumLambda') || isfield(given, 'LambdaMinRatio'))
    error([fname ':badOption'], ...
          'give ''Lambda1'', or ''NumLambda'' and ''LambdaMinRatio'' for its grid, not both.');
end

d = design(fname, X, y, nc, opts);
opts.Weights = d.weights;
opts.ClassWeight = [];
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
end
