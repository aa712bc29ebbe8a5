%DOVEX_PLOT_CV  Plot a cross-validation: held-out loss and sparsity per penalty.
%   h = DOVEX_PLOT_CV(cv) draws the result of dovex_cv in a new figure and
%   returns its handle. The upper panel shows the held-out mean of the
%   measure that chose (cv.measure: the log-loss unless another was named)
%   against lambda1 (log axis) with one-standard-error bars, and the two
%   chosen penalties marked: lambda1_min (best mean, solid line) and
%   lambda1_1se (dashed). The lower panel shows the mean number of non-zero
%   weights against the same axis.
%   h = DOVEX_PLOT_CV(cv, Name, Value) sets options:
%     'Axes'   two existing axes, [ax_loss ax_nnz], to draw into instead,
%              for a figure of one's own
%   [h, ax] = DOVEX_PLOT_CV(...) also returns the two axes.
%
%   It works without a display (octave-cli on a server): the figure is then
%   invisible and drawn with the gnuplot toolkit. Save it with
%       print(h, 'cv.png', '-dpng')         % MATLAB, Octave with Ghostscript
%       print(h, 'cv.png', '-dpngcairo')    % Octave with gnuplot, no Ghostscript
%
%   Errors: dovex_plot_cv:badInput, dovex_plot_cv:badOption.
%
%   Example:
%       D = dlmread('data/iris.csv', ',', 1, 0);
%       cv = dovex_cv(D(:,1:4), D(:,5), 'Lambda1', logspace(2, -1, 8));
%       h = dovex_plot_cv(cv);
%
%   dovex version: unreleased sources
%
%   See also DOVEX_CV, DOVEX_PLOT_WEIGHTS.

function [h, ax] = dovex_plot_cv(cv, varargin)
fields = {'lambda1', 'loss_mean', 'loss_se', 'nnz_mean', 'lambda1_min', 'lambda1_1se'};
if nargin < 1 || ~isstruct(cv) || ~isscalar(cv) || ~all(isfield(cv, fields))
    error('dovex_plot_cv:badInput', 'cv must be a struct from dovex_cv.');
end
opts = parse_options('dovex_plot_cv', varargin);
ax = opts.Axes;
if ~isempty(ax) && numel(ax) ~= 2
    error('dovex_plot_cv:badOption', 'option ''Axes'' must be two axes handles.');
end
if isempty(ax)
    h = new_figure([100 100 800 700]);
    ax = [subplot(2, 1, 1), subplot(2, 1, 2)];
else
    h = ancestor(ax(1), 'figure');
end

% The measure that chose, where cv says which.
measure = 'loss';
if isfield(cv, 'measure')
    measure = cv.measure;
end
[lambda1, order] = sort(cv.lambda1);
loss = cv.([measure '_mean'])(order);
se = cv.([measure '_se'])(order);

% The bars drawn as segments: errorbar's caps do not sit well on a log axis.
semilogx(ax(1), lambda1, loss, 'o-');
hold(ax(1), 'on');
semilogx(ax(1), [lambda1; lambda1], [loss - se; loss + se], 'b-');
span = [min(loss - se), max(loss + se)];
if span(1) == span(2)
    span = span + [-1 1];
end
semilogx(ax(1), cv.lambda1_min * [1 1], span, 'k-');
semilogx(ax(1), cv.lambda1_1se * [1 1], span, 'k--');
hold(ax(1), 'off');
xlim(ax(1), lambda_range(lambda1));
names = struct('loss', 'log-loss', 'error', 'error', 'balanced', 'balanced error', 'auc', 'AUC');
ylabel(ax(1), ['held-out ' names.(measure)]);
title(ax(1), sprintf('lambda1 min %.3g (solid), 1se %.3g (dashed)', cv.lambda1_min, ...
                     cv.lambda1_1se));
grid(ax(1), 'on');

semilogx(ax(2), lambda1, cv.nnz_mean(order), 's-');
xlim(ax(2), lambda_range(lambda1));
xlabel(ax(2), 'lambda1');
ylabel(ax(2), 'non-zero weights (mean)');
grid(ax(2), 'on');
end

% A log axis a little wider than the grid, so the end points show.
function r = lambda_range(lambda1)
lo = min(lambda1(lambda1 > 0));
hi = max(lambda1);
if isempty(lo)
    r = [0.1 1];
elseif lo == hi
    r = lo * [0.5 2];
else
    r = [lo / 1.3, hi * 1.3];
end
end

%!shared cv
%! cv = struct ("lambda1", [10 3 1 0.3 0.1], "loss_mean", [1.1 0.6 0.4 0.35 0.38], ...
%!             "loss_se", [0 0.05 0.04 0.04 0.05], "nnz_mean", [0 4 9 15 20], ...
%!             "lambda1_min", 0.3, "lambda1_1se", 1);

%!test  # the loss with its bars and the two choices above, the non-zeros below
%! h = dovex_plot_cv (cv);
%! unwind_protect
%!   assert (strcmp (get (h, "type"), "figure"));
%!   ax = findobj (h, "type", "axes");
%!   assert (numel (ax), 2);
%!   assert (get (ax, "xscale"), {"log"; "log"});
%!   lines = findobj (h, "type", "line");
%!   x = get (lines, "xdata");
%!   y = get (lines, "ydata");
%!   ## the curves run over the grid in increasing lambda1
%!   curve = cellfun (@(v) isequal (v, fliplr (cv.lambda1)), x);
%!   assert (sort (cellfun (@(v) v(end), y(curve))), [0; 1.1]);   # at lambda1 = 10
%!   ## a vertical line at each chosen penalty
%!   vertical = cellfun (@(v) numel (v) == 2 && v(1) == v(2), x);
%!   at = cellfun (@(v) v(1), x(vertical));
%!   assert (any (at == 0.3) && any (at == 1));
%!   ## one bar per penalty from mean - se to mean + se
%!   bars = findobj (h, "type", "line", "-and", "color", [0 0 1]);
%!   assert (numel (bars) >= 5);
%! unwind_protect_cleanup
%!   close (h);
%! end_unwind_protect

%!test  # into axes of one's own, and saved as a PNG
%! h = figure ("visible", "off");
%! unwind_protect
%!   ax = [subplot(1, 2, 1), subplot(1, 2, 2)];
%!   [g, got] = dovex_plot_cv (cv, "Axes", ax);
%!   assert (g, h);
%!   assert (got, ax);
%!   file = [tempname() ".png"];
%!   if (strcmp (graphics_toolkit (), "gnuplot"))
%!     print (h, file, "-dpngcairo");
%!   else
%!     print (h, file, "-dpng");
%!   endif
%!   f = fopen (file, "r");
%!   assert (fread (f, 8, "uint8")', [137 80 78 71 13 10 26 10]);
%!   fclose (f);
%!   delete (file);
%! unwind_protect_cleanup
%!   close (h);
%! end_unwind_protect

%!error id=dovex_plot_cv:badInput dovex_plot_cv (struct ("lambda1", 1))
%!error id=dovex_plot_cv:badInput dovex_plot_cv ()
%!error id=dovex_plot_cv:badOption dovex_plot_cv (cv, "Color", "red")
%!error id=dovex_plot_cv:badOption dovex_plot_cv (cv, "Axes", 1)
