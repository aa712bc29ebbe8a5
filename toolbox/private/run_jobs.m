function [results, engine, workers] = run_jobs(fname, fun, jobs, parallel, workers)
%RUN_JOBS  results{k} = fun(jobs{k}) for every job, on the host's engine.
%   parallel is 'auto', true or false; workers the number of worker
%   processes ([] for one per core). In Octave the parallel engine is
%   parcellfun from the parallel package, in MATLAB parfor over the current
%   pool (or the default one). engine says which ran the jobs ('serial',
%   'parcellfun' or 'parfor'); workers how many processes did. fun must be
%   reachable from a fresh process by its name (a public function, or an
%   anonymous function calling one), since the parallel engines start their
%   own, and must not raise errors but return them as dovex_job does: a
%   result with a field dovex_job_error is raised here again as fname's
%   (fname:jobFailed, or fname:NAME for an error NAME of the toolbox).
%
%   Every job must give the same result wherever it runs: the fits seed
%   the C runtime's rand() themselves, so each worker's own generator
%   state does not matter.

n = numel(jobs);
results = cell(size(jobs));
if exist('OCTAVE_VERSION', 'builtin')
    available = octave_parallel();
    if isempty(workers)
        workers = nproc();
    end
    engine = 'parcellfun';
else
    available = ~isempty(ver('parallel')) && license('test', 'Distrib_Computing_Toolbox');
    engine = 'parfor';
end
if islogical(parallel)
    use = parallel;
    if use && ~available
        error([fname ':noParallel'], ...
              'the host has no parallel engine (%s); use ''Parallel'', false.', engine);
    end
else
    use = available && n > 1 && (isempty(workers) || workers > 1);
end

if ~use
    engine = 'serial';
    workers = 1;
    for k = 1:n
        results{k} = fun(jobs{k});
    end
elseif strcmp(engine, 'parcellfun')
    workers = min([workers, n, nproc()]);
    % parcellfun keeps its worker processes for later calls; none is left
    % behind here, whether the jobs finish, fail or are interrupted.
    stop = onCleanup(@() parcellfun_set_nproc(0)); %#ok<NASGU>
    results = parcellfun(workers, fun, jobs, 'UniformOutput', false);
    results = reshape(results, size(jobs));
else
    pool = gcp('nocreate');
    if isempty(pool)
        if isempty(workers)
            pool = parpool();
        else
            pool = parpool(workers);
        end
    end
    workers = pool.NumWorkers;
    parfor k = 1:n
        results{k} = fun(jobs{k});
    end
end
for k = 1:n
    if isstruct(results{k}) && isfield(results{k}, 'dovex_job_error')
        err = results{k}.dovex_job_error;
        name = regexp(err.identifier, '^dovex_\w+:(\w+)$', 'tokens', 'once');
        if isempty(name)
            name = {'jobFailed'};
        end
        error([fname ':' name{1}], '%s', err.message);
    end
end
end

% Whether Octave's parallel package is there, loading it if need be.
function ok = octave_parallel()
ok = exist('parcellfun') ~= 0; %#ok<EXIST>
if ~ok
    try
        pkg('load', 'parallel');
        ok = exist('parcellfun') ~= 0; %#ok<EXIST>
    catch
        ok = false;
    end
end
end
