function workflow_dovex(dir, engine)
%WORKFLOW_DOVEX  The workflow benchmark's dovex run on one split data set.
%   WORKFLOW_DOVEX(dir, engine) reads dir/train.* and dir/test.* (written by
%   workflow_split.py), runs dovex_cv(X, labels) with its defaults, serial
%   (engine 'serial') or on its parallel engine ('parallel'), and times it
%   (the cross-validation and the refit at the chosen penalty, wall clock).
%   It writes the chosen model's class probabilities of the test samples to
%   dir/dovex-<engine>.prob (column-major doubles, a column per class 0..nc-1)
%   and prints one line for summarise: the time, the non-zero feature
%   weights (the bias row, when the model has one, not counted) and the
%   chosen model's relative objective gap.
%
%   The gap: dovex_train refits the training data at the chosen model's
%   lambda1 and lambda2 (and its bias and standardisation) with Tol 1e-12
%   and MaxSweeps 20000 (DOVEX_WORKFLOW_SWEEPS sets it; 0 skips the gap),
%   from zero weights;
%   the gap is (objective of that refit - objective of the chosen model) /
%   |objective of that refit|, both the penalised log-likelihood that
%   dovex_train reports. When the tight refit itself stops at MaxSweeps, its
%   objective is below the optimum and the gap is a lower bound ('>='). The
%   line is printed once before the tight refit (gap=pending), so that a run
%   stopped during it keeps its time.
%
%   Example (from the project folder, the modules built in build/mex):
%       addpath('build/mex', 'toolbox', 'bench/peers');
%       workflow_dovex('/tmp/split/digits', 'serial');

[Xtrain, ytrain, Xtest, nc] = read_split(dir);
parallel = strcmp(engine, 'parallel');

t0 = tic;
cv = dovex_cv(Xtrain, ytrain, 'Parallel', parallel);
seconds = toc(t0);
model = cv.model;

[~, P] = dovex_predict(model, Xtest);
if size(P, 2) ~= nc
    error('workflow_dovex:classes', 'the model has %d classes, the data %d.', size(P, 2), nc);
end
fid = fopen(fullfile(dir, ['dovex-' engine '.prob']), 'w');
fwrite(fid, P, 'double');
fclose(fid);

W = model.W;
nd = size(Xtrain, 2);
nonzero = nnz(W(1:nd, :));

line = sprintf('dovex %s seconds=%.3f nnz=%d gap=%%s lambda1=%.4g sweeps=%d converged=%d ran=%s\n', ...
               engine, seconds, nonzero, model.lambda1, model.sweeps, model.converged, cv.engine);
% The gap is the same for both engines (the same bits); measure it once.
% The line goes out first without it, in case the tight refit is stopped.
gap = 'NaN';
if ~parallel
    fprintf(line, 'pending');
    if exist('OCTAVE_VERSION', 'builtin')
        fflush(stdout);
    end
    sweeps = 20000;
    if ~isempty(getenv('DOVEX_WORKFLOW_SWEEPS'))
        sweeps = str2double(getenv('DOVEX_WORKFLOW_SWEEPS'));
    end
    % MaxSweeps 0: the gap is not measured (a run for the scores alone).
    if sweeps == 0
        fprintf(line, '-');
        return
    end
    args = {'Lambda1', model.lambda1, 'Lambda2', model.lambda2, 'Tol', 1e-12, ...
            'MaxSweeps', sweeps, 'Display', 'off', 'Seed', 0};
    if isfield(model, 'bias')
        args = [args, {'Bias', model.bias}];
    end
    if isfield(model, 'standardize')
        args = [args, {'Standardize', model.standardize}];
    elseif isfield(model, 'scale')
        args = [args, {'Standardize', ~isempty(model.scale)}];
    end
    tight = dovex_train(Xtrain, ytrain, args{:});
    gap = sprintf('%.3g', (tight.objective - model.objective) / abs(tight.objective));
    if tight.sweeps >= sweeps
        gap = ['>=' gap];
    end
end
fprintf(line, gap);
end

function [Xtrain, ytrain, Xtest, nc] = read_split(dir)
meta = read_numbers(fullfile(dir, 'meta'), 'int32', 'text');
[ntrain, ntest, nd, nc, is_sparse] = deal(meta(1), meta(2), meta(3), meta(4), meta(5));
ytrain = read_numbers(fullfile(dir, 'train.y'), 'int32', 'binary');
Xtrain = read_x(fullfile(dir, 'train'), ntrain, nd, is_sparse);
Xtest = read_x(fullfile(dir, 'test'), ntest, nd, is_sparse);
end

function X = read_x(base, n, nd, is_sparse)
if is_sparse
    i = read_numbers([base '.Xi'], 'int32', 'binary');
    j = read_numbers([base '.Xj'], 'int32', 'binary');
    v = read_numbers([base '.Xx'], 'double', 'binary');
    X = sparse(i + 1, j + 1, v, n, nd);
else
    X = reshape(read_numbers([base '.X'], 'double', 'binary'), n, nd);
end
end

function v = read_numbers(file, type, form)
fid = fopen(file, 'r');
if fid < 0
    error('workflow_dovex:read', 'cannot read %s', file);
end
if strcmp(form, 'text')
    v = fscanf(fid, '%d');
else
    v = fread(fid, Inf, [type '=>double'], 0, 'ieee-le');
end
fclose(fid);
end
