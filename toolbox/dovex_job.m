%DOVEX_JOB  One fit of dovex_path or dovex_cv, as a worker process runs it.
%   out = DOVEX_JOB(X, y, job) is dovex_train(X(job.rows,:), y(job.rows),
%   job.args{:}), or, when that raises an error, a struct whose field
%   dovex_job_error holds the error's identifier and message, which
%   dovex_path and dovex_cv raise again. It is not meant to be called
%   directly: it is public only because the parallel engines' worker
%   processes can reach a function by its name alone, and Octave's
%   parcellfun loses a worker's own errors.
%
%   Example (what dovex_path does for each penalty):
%       D = dlmread('data/iris.csv', ',', 1, 0);
%       job = struct('rows', ':', 'args', {{'Lambda1', 1, 'Seed', 0, 'Display', 'off'}});
%       model = dovex_job(D(:,1:4), D(:,5), job);
%
%   dovex version: unreleased sources
%
%   See also DOVEX_PATH, DOVEX_CV.

function out = dovex_job(X, y, job)
try
    out = dovex_train(X(job.rows, :), y(job.rows), job.args{:});
catch err
    out = struct('dovex_job_error', struct('identifier', err.identifier, ...
                                           'message', err.message));
end
end

%!test  # a fit, or its error as data
%! X = [1 0; 0 1; 1 1; 0 0];
%! job = struct ("rows", [1 2 3 4], "args", {{"Lambda1", 0.1, "Seed", 2, "Display", "off"}});
%! m = dovex_job (X, [1; 2; 1; 2], job);
%! direct = dovex_train (X, [1; 2; 1; 2], "Lambda1", 0.1, "Seed", 2, "Display", "off");
%! assert (typecast (m.W(:), "uint64"), typecast (direct.W(:), "uint64"));
%! job.args{2} = -1;
%! out = dovex_job (X, [1; 2; 1; 2], job);
%! assert (out.dovex_job_error.identifier, "dovex_train:badOption");
