%CV_ENGINES  dovex_cv on the digits, serially and on the parallel engine.
%   The benchmark of the cross-validation's engines: 5 folds x 10 penalties
%   (lambda1_max down to lambda1_max/1000) on all 1797 digits, first one fit
%   after the other in this process, then on the host's parallel engine,
%   with the same seed. Prints the wall time of each, the speed-up, and
%   whether both gave the same bits; tools/bench_cv.sh runs it and adds the
%   peak memory of each phase, which it samples from outside. Each phase
%   name is written to the file named by DOVEX_BENCH_PHASE, if set, as it
%   starts.

D = dlmread(fullfile(fileparts(mfilename('fullpath')), '..', 'data', 'digits.csv'), ',', 1, 0);
X = D(:, 1:end-1) / 16;
digit = D(:, end);
probe = dovex_train(X, digit, 'Lambda1', 1e300, 'Display', 'off');
grid = probe.lambda1_max * 10 .^ (-3 * (0:9) / 9);
phase_file = getenv('DOVEX_BENCH_PHASE');
engines = {false, true};
names = {'serial', 'parallel'};
result = cell(1, 2);
for e = 1:2
    if ~isempty(phase_file)
        f = fopen(phase_file, 'w');
        fprintf(f, '%s\n', names{e});
        fclose(f);
    end
    result{e} = dovex_cv(X, digit, 'Lambda1', grid, 'Folds', 5, 'Seed', 1, ...
                         'Parallel', engines{e});
    fprintf('%-8s  %-10s  %d worker(s)  %6.1f s wall, %6.1f s of fits\n', names{e}, ...
            result{e}.engine, result{e}.workers, result{e}.seconds, sum(result{e}.fit_seconds(:)));
end
if ~isempty(phase_file)
    f = fopen(phase_file, 'w');
    fprintf(f, 'done\n');
    fclose(f);
end
same = isequal(typecast(result{1}.loss(:), 'uint64'), typecast(result{2}.loss(:), 'uint64')) && ...
       isequal(typecast(result{1}.model.W(:), 'uint64'), typecast(result{2}.model.W(:), 'uint64'));
fprintf('speed-up: %.2f on %d cores; same bits: %d\n', result{1}.seconds / result{2}.seconds, ...
        nproc(), same);
fprintf('chosen lambda1: %.4g, cross-validated accuracy %.4f\n', result{2}.lambda1_min, ...
        result{2}.accuracy_mean(result{2}.index_min));
if ~same
    exit(1);
end
