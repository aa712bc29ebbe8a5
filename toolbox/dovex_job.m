%DOVEX_JOB  Fits of dovex_path or dovex_cv, as a worker process runs them.
%   models = DOVEX_JOB(X, y, job) fits the samples job.rows of X (classes y,
%   numbered 1..job.nc) at the penalties job.lambda1 and job.lambda2, each
%   fit k after dovex_seed(job.seeds(k)), with the fit options job.opts
%   (dovex_path's, checked; Weights and Offset for all samples of X), from
%   the null model, or, with job.warm true, each from the one before.
%   models{k} is the model of fit k, in the units of X, with a field
%   failure: '' or why the fit failed (its W is then NaN). Errors are kept
%   as failures; anything else that goes wrong gives a struct whose field
%   dovex_job_error holds the error's identifier and message, which
%   dovex_path and dovex_cv raise again as theirs. It is not meant to be called
%   directly: it is public only because the parallel engines' worker
%   processes can reach a function by its name alone.
%   models = DOVEX_JOB(X, y, job) with job.fname 'dovex_permtest' is one
%   permutation of dovex_permtest: its score, the held-out mean measure, at the
%   chosen penalty, of dovex_cv(X, y(job.order), job.args{:}).
%
%   Example (what dovex_path does for two penalties):
%       D = dlmread('data/iris.csv', ',', 1, 0);
%       opts = struct('Tol', 1e-4, 'MaxSweeps', 1000, 'Bias', true, 'Standardize', true, ...
%                     'Weights', [], 'ClassWeight', [], 'PenaltyFactor', [], 'Offset', []);
%       job = struct('fname', 'dovex_path', 'rows', ':', 'nc', 3, 'opts', opts, ...
%                    'lambda1', [10 1], 'lambda2', [1 0.1], 'seeds', [0 1], 'warm', false);
%       models = dovex_job(D(:,1:4), D(:,5) + 1, job);
%
%   dovex version: unreleased sources
%
%   See also DOVEX_PATH, DOVEX_CV.

function models = dovex_job(X, y, job)
try
    if strcmp(job.fname, 'dovex_permtest')
        % One permutation of dovex_permtest: the score of dovex_cv on the
        % labels in the order job.order.
        cv = dovex_cv(X, y(job.order), job.args{:});
        models = cv.([cv.measure '_mean'])(cv.(['index_' cv.select]));
        return
    end
    models = fits(X, y, job);
catch err
    % Whatever escaped (a module missing in a worker, memory): the caller
    % raises it again, since parcellfun loses a worker's own errors.
    models = struct('dovex_job_error', struct('identifier', err.identifier, ...
                                              'message', err.message));
end
end

function models = fits(X, y, job)
opts = job.opts;
if ~isempty(opts.Weights)
    opts.Weights = opts.Weights(job.rows);
end
if ~isempty(opts.Offset)
    opts.Offset = opts.Offset(job.rows, :);
end
try
    d = design(job.fname, X(job.rows, :), y(job.rows), job.nc, opts);
catch err
    % Every fit of these samples fails alike.
    model = struct('W', NaN, 'nnz', NaN, 'sweeps', 0, 'converged', false, 'objective', NaN, ...
                   'fit_seconds', 0, 'notes', {{}}, 'failure', err.message, ...
                   'failure_id', err.identifier);
    models = repmat({model}, 1, numel(job.lambda1));
    return
end
models = fit_path(job.fname, d, job.lambda1, job.lambda2, job.seeds, opts, job.warm, false, '');
end

%!test  # the fits of dovex_train, a failure kept as data
%! X = [1 0; 0 1; 1 1; 0 0; 2 1; 1 2];
%! y = [1; 2; 1; 2; 1; 2];
%! opts = struct ("Tol", 1e-7, "MaxSweeps", 1000, "Bias", true, "Standardize", true, ...
%!                "Weights", [], "ClassWeight", [], "PenaltyFactor", [], "Offset", []);
%! job = struct ("fname", "dovex_path", "rows", [1 2 3 4 5 6], "nc", 2, "opts", opts, ...
%!               "lambda1", [0.1 0.5], "lambda2", [0.01 0.05], "seeds", [2 3], "warm", false);
%! models = dovex_job (X, y, job);
%! direct = dovex_train (X, y, "Lambda1", 0.5, "Lambda2", 0.05, "Seed", 3, "Display", "off");
%! assert (typecast (models{2}.W(:), "uint64"), typecast (direct.W(:), "uint64"));
%! assert (models{2}.failure, "");
%! job.rows = [1 3 5];                      # no sample of the second class
%! models = dovex_job (X, y, job);
%! assert (numel (models), 2);
%! assert (isnan (models{1}.objective) && ! isempty (strfind (models{1}.failure, "weight above 0")));
