%DEMO_DIGITS  Fit dovex_fit to the bundled handwritten digits and test it.
%   Loads data/digits.csv (1797 images of 8x8 pixels, digits 0..9), keeps
%   every fifth sample out of the fit, fits the remaining four fifths from
%   scratch and reports the accuracy on the held-out fifth, the share of
%   non-zero weights, the number of sweeps and the time the fit took.
%   Runs in Octave and MATLAB with the dovex_fit module on the path.
%
%   See also DOVEX_FIT.

% The data sit in data/ beside this file in the Octave package, and in the
% project's data/ folder beside demo/.
here = fileparts(mfilename('fullpath'));
data_file = fullfile(here, 'data', 'digits.csv');
if ~exist(data_file, 'file')
    data_file = fullfile(here, '..', 'data', 'digits.csv');
end
D = dlmread(data_file, ',', 1, 0);
label = D(:, end);
ns = size(D, 1);
nc = max(label) + 1;

% Pixel counts 0..16 scaled to 0..1, and a constant feature that lets each
% class have its own bias.
X = [D(:, 1:end-1) / 16, ones(ns, 1)];
Y = zeros(ns, nc);
Y(sub2ind([ns nc], (1:ns)', label + 1)) = 1;

% Fixed split: every fifth sample is held out, the rest are fitted.
held_rows = mod((1:ns)', 5) == 0;
fit_rows = ~held_rows;
n = nnz(fit_rows);

lambda1 = 2;        % L1: enough to zero about two thirds of the weights
lambda2 = 0.5;      % L2: keeps the weights of correlated pixels small
tol = 1e-3;
max_sweeps = 500;
fprintf('digits: %d samples, %d features (with the constant), %d classes\n', ...
        ns, size(X, 2), nc);
fprintf('fitting %d samples, holding out %d; lambda1 = %g, lambda2 = %g, tol = %g\n', ...
        n, nnz(held_rows), lambda1, lambda2, tol);

% The progress lines go to the screen as the fit runs; the diary keeps a
% copy from which the sweeps are counted.
log_file = [tempname() '.txt'];
diary(log_file);
t0 = tic;
W = dovex_fit(X(fit_rows, :), Y(fit_rows, :), zeros(n, nc), ones(n, nc), nc * ones(n, 1), ...
              lambda1, lambda2, tol, max_sweeps);
fit_time = toc(t0);
diary('off');
sweeps = numel(strfind(fileread(log_file), 'sweep :'));
delete(log_file);

% The predicted class is the most probable one under softmax(X*W), which
% is the largest score of X*W.
[~, predicted] = max(X(held_rows, :) * W, [], 2);
accuracy = mean(predicted - 1 == label(held_rows));

fprintf('held-out accuracy: %.4f (%d of %d)\n', accuracy, ...
        sum(predicted - 1 == label(held_rows)), nnz(held_rows));
fprintf('non-zero weights: %.4f (%d of %d)\n', nnz(W) / numel(W), nnz(W), numel(W));
fprintf('sweeps: %d\n', sweeps);
fprintf('fit time: %.2f s\n', fit_time);
