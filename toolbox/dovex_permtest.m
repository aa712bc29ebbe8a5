%DOVEX_PERMTEST  Permutation test of a cross-validated classifier's held-out score.
%   result = DOVEX_PERMTEST(X, labels) runs the whole dovex_cv pipeline (the
%   penalty chosen inside it) on the true labels and on 1000 permutations
%   of them, and reports where the true held-out score falls among the
%   permuted ones: whether the accuracy is above chance.
%   result = DOVEX_PERMTEST(X, labels, Name, Value, ...) sets options.
%
%   X and labels are those of dovex_cv. The score of a run is the held-out
%   mean of dovex_cv's measure at the penalty it selects:
%   cv.([measure '_mean'])(index_min), or index_1se with 'Select' '1se'.
%
%   Options (names in any case):
%     'NumPermutations'  the number of permutations N; default 1000
%     'Lambda1'         as for dovex_cv, passed to each of its runs
%     'NumLambda'       as for dovex_cv, passed to each of its runs
%     'LambdaMinRatio'  as for dovex_cv, passed to each of its runs
%     'Lambda2Ratio'    as for dovex_cv, passed to each of its runs
%     'Lambda2'         as for dovex_cv, passed to each of its runs
%     'Tol'             as for dovex_cv, passed to each of its runs
%     'MaxSweeps'       as for dovex_cv, passed to each of its runs
%     'Bias'            as for dovex_cv, passed to each of its runs
%     'Standardize'     as for dovex_cv, passed to each of its runs
%     'Weights'         as for dovex_cv, passed to each of its runs
%     'ClassWeight'     as for dovex_cv, passed to each of its runs
%     'PenaltyFactor'   as for dovex_cv, passed to each of its runs
%     'Offset'          as for dovex_cv, passed to each of its runs
%     'FeatureNames'    as for dovex_cv, passed to each of its runs
%     'Display'         as for dovex_cv, passed to each of its runs
%     'WarmStart'       as for dovex_cv, passed to each of its runs
%     'Folds'           as for dovex_cv, passed to each of its runs
%     'FoldId'          as for dovex_cv, passed to each of its runs
%     'Measure'         as for dovex_cv, passed to each of its runs
%     'Select'          as for dovex_cv, passed to each of its runs
%     'Seed'          default 0: each run of dovex_cv takes Seed as it is
%                     (so its folds and fits are seeded alike), and
%                     permutation i (1..N) is drawn by dovex_cv's own
%                     generator seeded with Seed + i, so the result is the
%                     same bits in any session, serial or parallel
%     'Groups'        as for dovex_cv, and the labels are permuted within
%                     each group only, so that the group structure (each
%                     group's class counts) is kept
%     'Parallel'      'auto' (default), true or false: whether the
%                     permutations run on the host's parallel engine
%                     (Octave: parcellfun of the parallel package; MATLAB:
%                     parfor), one permutation a job, each job running
%                     dovex_cv with 'Parallel' false. The true labels' run
%                     is dovex_cv's own, with this option
%     'Workers'       the number of worker processes; default one per core
%   A FoldId is kept with its samples: the folds stay, the labels move.
%   The run prints a line each tenth of the permutations or so (at least
%   one permutation per worker between lines, and at the end) with the
%   count done and the time so far.
%
%   result is a struct:
%     measure        the measure, as dovex_cv's 'Measure'
%     score          the true labels' score
%     null           N-by-1, each permutation's score
%     p              the p-value, (1 + #{null >= score}) / (1 + N) for the
%                    AUC, where larger is better; (1 + #{null <= score}) /
%                    (1 + N) for the loss, error and balanced error, where
%                    smaller is. It is never below 1 / (1 + N)
%     num_permutations  N
%     cv             the dovex_cv result of the true labels
%     seconds        the time of the whole call
%     engine, workers  what ran the permutations ('serial', 'parcellfun'
%                    or 'parfor') and how many processes
%
%   Errors: those of dovex_cv, as dovex_permtest:* (dovex_permtest:notDouble,
%   dovex_permtest:badOption, ...), before any fit; and
%   dovex_permtest:badOption for 'Seed' plus N beyond 4294967295.
%
%   Example:
%       D = dlmread('data/iris.csv', ',', 1, 0);
%       r = dovex_permtest(D(:,1:4), D(:,5), 'NumPermutations', 20, ...
%                          'Lambda1', [10 1 0.1], 'Folds', 3);
%       r.p                                   % 1/21: no permutation does as well
%       dovex_plot_permtest(r);
%
%   dovex version: unreleased sources
%
%   See also DOVEX_CV, DOVEX_PLOT_PERMTEST.

function result = dovex_permtest(X, labels, varargin)
t0 = tic;
if nargin < 2
    error('dovex_permtest:badOption', 'usage: result = dovex_permtest(X, labels, Name, Value, ...)');
end
[X, y] = check_data('dovex_permtest', X, labels);
[opts, given] = parse_options('dovex_permtest', varargin);
N = opts.NumPermutations;
if opts.Seed + N > 4294967295
    error('dovex_permtest:badOption', ...
          'option ''Seed'' plus the %d permutations must stay below 4294967296.', N);
end
% dovex_cv's options as given, but the engine's and the count.
args = {};
names = fieldnames(given);
for k = 1:numel(names)
    if ~any(strcmp(names{k}, {'NumPermutations', 'Parallel', 'Workers'}))
        args(end+1:end+2) = {names{k}, given.(names{k})}; %#ok<AGROW>
    end
end
engine_args = {'Parallel', opts.Parallel};
if ~isempty(opts.Workers)
    engine_args(end+1:end+2) = {'Workers', opts.Workers};
end
try
    cv = dovex_cv(X, labels, args{:}, engine_args{:});
catch err
    id = regexprep(err.identifier, '^dovex_cv:', 'dovex_permtest:');
    error(id, '%s', err.message);
end
score = cv.([cv.measure '_mean'])(cv.(['index_' cv.select]));

groups = ones(numel(y), 1);
if isfield(given, 'Groups')
    groups = opts.Groups;
end
jobs = cell(N, 1);
for i = 1:N
    jobs{i} = struct('fname', 'dovex_permtest', 'order', permutation(groups, opts.Seed + i), ...
                     'args', {[args, {'Parallel', false}]});
end
% Runs of about a tenth each, so that progress shows whatever the engine;
% each a whole number of jobs per worker, so that no worker idles.
null = zeros(N, 1);
fun = @(j) dovex_job(X, y, j);
nw = opts.Workers;
if isequal(opts.Parallel, false)
    nw = 1;
elseif isempty(nw)
    nw = 1;
    if exist('nproc') %#ok<EXIST>
        nw = nproc();
    end
end
step = nw * ceil(ceil(N / 10) / nw);
engine = 'serial';
workers = 1;
for first = 1:step:N
    part = first:min(first + step - 1, N);
    [scores, engine, workers] = run_jobs('dovex_permtest', fun, jobs(part), opts.Parallel, ...
                                         opts.Workers);
    null(part) = [scores{:}];
    fprintf('dovex_permtest: %d of %d permutations, %.1f s\n', part(end), N, toc(t0));
end
if strcmp(cv.measure, 'auc')
    p = (1 + nnz(null >= score)) / (1 + N);
else
    p = (1 + nnz(null <= score)) / (1 + N);
end
result = struct('measure', cv.measure, 'score', score, 'null', null, 'p', p, ...
                'num_permutations', N, 'cv', cv, 'seconds', toc(t0), ...
                'engine', engine, 'workers', workers);
end

% The samples' order for one permutation: a shuffle within each group,
% by the generator of stratified_folds seeded with seed.
function order = permutation(groups, seed)
m = 2147483647;
state = mod(seed, m - 1) + 1;
order = (1:numel(groups))';
for g = 1:max(groups)
    members = find(groups == g);
    shuffled = members;
    for i = numel(members):-1:2
        state = mod(16807 * state, m);
        j = floor(state / m * i) + 1;
        shuffled([i j]) = shuffled([j i]);
    end
    order(members) = shuffled;
end
end

%!function D = bundled (name)
%!  here = fileparts (which ("dovex_permtest"));
%!  for d = {getenv("DOVEX_DATA_DIR"), fullfile(here, "data"), fullfile(here, "..", "data")}
%!    file = fullfile (d{1}, [name ".csv"]);
%!    if (! isempty (d{1}) && exist (file, "file"))
%!      D = dlmread (file, ",", 1, 0);
%!      return;
%!    endif
%!  endfor
%!  error ("bundled data %s.csv not found", name);
%!endfunction

%!test  # digits: no permutation does as well, p = 1/(1+N); serial and parallel the same bits
%! D = bundled ("digits");
%! keep = 1:3:rows (D);
%! args = {D(keep,1:end-1) / 16, D(keep,end), "NumPermutations", 6, "Lambda1", [10 1], ...
%!         "Folds", 3, "Measure", "error", "Seed", 5};
%! out = evalc ("r = dovex_permtest (args{:}, 'Parallel', false);");
%! assert (r.p, 1 / 7);
%! assert (r.score < 0.1 && all (r.null > 0.5));
%! assert (r.score, r.cv.error_mean(r.cv.index_min));
%! assert (r.engine, "serial");
%! assert (numel (regexp (out, '^dovex_permtest: \d of 6 permutations', "lineanchors")), 6);
%! assert (regexp (out, '6 of 6 permutations, [\d.]+ s\n$'));
%! if (exist ("parcellfun") || ! isempty (pkg ("list", "parallel")))
%!   q = dovex_permtest (args{:}, "Parallel", true, "Workers", 2);
%!   assert (q.engine, "parcellfun");
%!   assert (typecast ([q.null; q.score], "uint64"), typecast ([r.null; r.score], "uint64"));
%! endif

%!test  # no signal: p-values spread over (0, 1]; permutations keep each group's labels
%! X = reshape (mod ((1:60*5)' * 7919, 101), 60, 5) / 101;
%! label = mod ((1:60)', 2);
%! g = floor ((0:59)' / 12);
%! p = zeros (1, 4);
%! for s = 1:4
%!   evalc ("r = dovex_permtest (X, label, 'NumPermutations', 9, 'Lambda1', [1 0.1], 'Groups', g, 'Seed', 10 * s, 'Parallel', false);");
%!   p(s) = r.p;
%!   assert (r.measure, "loss");
%!   assert (all (r.p > 0 & r.p <= 1));
%! endfor
%! assert (max (p) - min (p) >= 0.3);
%! assert (max (p) > 0.2);

%!error id=dovex_permtest:badOption dovex_permtest (1)
%!error id=dovex_permtest:badOption dovex_permtest ([1 2; 3 4; 5 6; 7 8], [1 1 2 2], "NumPermutations", 0)
%!error id=dovex_permtest:badOption dovex_permtest ([1 2; 3 4; 5 6; 7 8], [1 1 2 2], "Seed", 4294967295)
%!error id=dovex_permtest:notDouble dovex_permtest (single ([1 2; 3 4]), [1 2])
