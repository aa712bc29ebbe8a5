%DEMO_DIGITS  Choose the penalty for the bundled digits by cross-validation.
%   The workflow a user runs: loads data/digits.csv (1797 images of 8x8
%   pixels, digits 0..9), holds out every fifth sample, runs dovex_cv on the
%   rest (5 stratified folds, 10 penalties from lambda1_max down to
%   lambda1_max/10000, on the host's parallel engine when there is one),
%   refits at the penalty of the lowest held-out loss, and prints the grid's
%   table, the chosen penalty, the accuracy on the held-out fifth, the share
%   of non-zero weights and the time. It writes dovex_digits.png into the
%   current folder: the cross-validation curve above the ten classes'
%   weight maps (each weight times its pixel's standard deviation).
%
%   Runs in MATLAB and Octave, also without a display, with the modules
%   (dovex_fit, dovex_seed) and the toolbox functions on the path. For a
%   shorter grid set demo_penalties before running it, or the environment
%   variable DOVEX_DEMO_PENALTIES (for demo dovex_fit, which runs it).
%
%   See also DOVEX_CV, DOVEX_PLOT_CV, DOVEX_PLOT_WEIGHTS.

demo_start = tic;
if ~exist('demo_penalties', 'var')
    demo_penalties = str2double(getenv('DOVEX_DEMO_PENALTIES'));
    if ~(demo_penalties >= 2)
        demo_penalties = 10;
    end
end
% The data sit in the project's data/ folder beside demo/, and in data/
% beside this file in the install folder and the Octave package.
demo_here = fileparts(mfilename('fullpath'));
data_file = fullfile(demo_here, '..', 'data', 'digits.csv');
if ~exist(data_file, 'file')
    data_file = fullfile(demo_here, 'data', 'digits.csv');
end
D = dlmread(data_file, ',', 1, 0);
X = D(:, 1:end-1) / 16;             % pixel counts 0..16 scaled to 0..1
digit = D(:, end);
held = mod((1:size(X, 1))', 5) == 0;
fprintf('digits: %d samples, %d pixels, %d classes; fitting %d, holding out %d\n', ...
        size(X, 1), size(X, 2), numel(unique(digit)), nnz(~held), nnz(held));

% The grid spans every sparsity from all-zero down to a penalty ten
% thousand times smaller, past the lowest held-out loss.
cv = dovex_cv(X(~held, :), digit(~held), 'NumLambda', demo_penalties, ...
              'LambdaMinRatio', 1e-4, 'Folds', 5, 'Seed', 1);
fprintf('cross-validation: %d folds x %d penalties on %s (%d workers), %.1f s\n', ...
        size(cv.loss, 1), numel(cv.lambda1), cv.engine, cv.workers, cv.seconds);

fprintf('\n%10s  %17s  %8s  %9s\n', 'lambda1', 'log-loss +- se', 'accuracy', 'non-zeros');
for k = 1:numel(cv.lambda1)
    mark = '';
    if k == cv.index_min
        mark = '  <- min';
    end
    if k == cv.index_1se
        mark = [mark '  <- 1se'];
    end
    fprintf('%10.4g  %8.4f +- %6.4f  %8.4f  %9.1f%s\n', cv.lambda1(k), cv.loss_mean(k), ...
            cv.loss_se(k), cv.accuracy_mean(k), cv.nnz_mean(k), mark);
end

model = cv.model;
predicted = dovex_predict(model, X(held, :));
correct = sum(predicted == digit(held));
fprintf('\nchosen lambda1: %.4g (lowest held-out loss), lambda2: %.4g\n', ...
        model.lambda1, model.lambda2);
fprintf('held-out accuracy: %.4f (%d of %d)\n', correct / nnz(held), correct, nnz(held));
features = size(X, 2) * size(model.W, 2);   % the weights of the pixels, not the intercepts
fprintf('non-zero weights: %.4f (%d of %d)\n', model.nnz / features, model.nnz, features);

% The picture: the curve on top, the ten weight maps below.
[fig, cv_axes] = dovex_plot_cv(cv);
set(fig, 'position', [100 100 1100 1000]);
set(cv_axes(1), 'position', [0.07 0.70 0.39 0.25]);
set(cv_axes(2), 'position', [0.57 0.70 0.39 0.25]);
weight_axes = zeros(1, 10);
for k = 1:10
    weight_axes(k) = axes('position', [0.03 + mod(k - 1, 5) * 0.19, ...
                                       0.35 - floor((k - 1) / 5) * 0.31, 0.15, 0.22]);
end
% The weights per standard deviation of each pixel, as the fit saw them: in
% the pixels' own units a rarely lit pixel's weight would outshine the rest.
shown = model;
shown.W(1:end-1, :) = bsxfun(@times, model.W(1:end-1, :), model.scale');
dovex_plot_weights(shown, [8 8], 'Order', 'row', 'Axes', weight_axes);
png = fullfile(pwd, 'dovex_digits.png');
if exist('OCTAVE_VERSION', 'builtin') && strcmp(get(fig, '__graphics_toolkit__'), 'gnuplot')
    device = '-dpngcairo';          % gnuplot's own PNG, no Ghostscript needed
    warning('off', 'print:nogs');
else
    device = '-dpng';
end
print(fig, png, device, '-r100');
close(fig);
fprintf('wrote %s\n', png);
fprintf('time: %.1f s\n', toc(demo_start));
