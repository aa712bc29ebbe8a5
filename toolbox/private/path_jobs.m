function out = path_jobs(fname, X, y, nc, rows, opts, lambda1, lambda2, seeds)
%PATH_JOBS  The fits of a grid for each set of rows, on the host's engine.
%   out = PATH_JOBS(fname, X, y, nc, rows, opts, lambda1, lambda2, seeds)
%   fits the samples rows{f} of X at every penalty k (lambda1(k),
%   lambda2(k), after dovex_seed(seeds(k))) with the fit options of opts.
%   With opts.WarmStart each set of rows is one job, a path from the
%   largest lambda1 down, each fit starting from the one before; otherwise
%   each fit is a job of its own from the null model, the slowest (the
%   smallest penalties) first so that the workers finish together.
%   out.fits{f, k} is the model of rows{f} at penalty k; out.engine and
%   out.workers say what ran them.

nf = numel(rows);
n = numel(lambda1);
[~, order] = sort(lambda1, 'descend');
job = @(f, k) struct('fname', fname, 'rows', rows{f}, 'nc', nc, 'opts', opts, ...
    'lambda1', lambda1(k), 'lambda2', lambda2(k), 'seeds', seeds(k), 'warm', opts.WarmStart);
if opts.WarmStart
    jobs = cell(nf, 1);
    for f = 1:nf
        jobs{f} = job(f, order);
    end
else
    jobs = cell(nf, n);
    for f = 1:nf
        for k = 1:n
            jobs{f, k} = job(f, order(n + 1 - k));
        end
    end
end
fit = @(j) dovex_job(X, y, j);
[results, out.engine, out.workers] = run_jobs(fname, fit, jobs, opts.Parallel, opts.Workers);
if opts.WarmStart
    fits = reshape([results{:}], n, nf)';
else
    fits = reshape([results{:}], nf, n);
    fits = fits(:, n:-1:1);
end
out.fits = cell(nf, n);
out.fits(:, order) = fits;
end
