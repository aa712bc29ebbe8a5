%DOVEX_PLOT_PERMTEST  Plot a permutation test: the null scores and the true one.
%   h = DOVEX_PLOT_PERMTEST(result) draws, for a result of dovex_permtest,
%   the histogram of the permutations' held-out scores (20 bins over
%   their range) and the
%   true labels' score as a vertical red line, in a new figure, and
%   returns its handle; the title gives the p-value and the count.
%   [h, ax] = DOVEX_PLOT_PERMTEST(result) also returns the axes.
%
%   It works without a display (octave-cli on a server): the figure is then
%   invisible and drawn with the gnuplot toolkit. Save it with
%       print(h, 'perm.png', '-dpng')         % MATLAB, Octave with Ghostscript
%       print(h, 'perm.png', '-dpngcairo')    % Octave with gnuplot, no Ghostscript
%
%   Errors: dovex_plot_permtest:badInput.
%
%   Example:
%       D = dlmread('data/iris.csv', ',', 1, 0);
%       r = dovex_permtest(D(:,1:4), D(:,5), 'NumPermutations', 20, ...
%                          'Lambda1', [10 1 0.1], 'Folds', 3);
%       h = dovex_plot_permtest(r);
%
%   dovex version: unreleased sources
%
%   See also DOVEX_PERMTEST.

function [h, ax] = dovex_plot_permtest(result)
fields = {'null', 'score', 'p', 'measure'};
if nargin < 1 || ~isstruct(result) || ~isscalar(result) || ~all(isfield(result, fields))
    error('dovex_plot_permtest:badInput', 'result must be a struct from dovex_permtest.');
end
null = result.null(:);
% The bins span the null alone, so its shape shows however far the true
% score lies.
lo = min(null);
hi = max(null);
if lo == hi
    [lo, hi] = deal(lo - 0.01 * max(abs(lo), 1), hi + 0.01 * max(abs(hi), 1));
end
edges = linspace(lo, hi, 21);
counts = histc(null, edges);
% histc's last bin holds the values equal to the last edge: fold it in.
counts = [counts(1:19); counts(20) + counts(21)];
h = new_figure([100 100 700 450]);
ax = axes('parent', h);
bar(ax, (edges(1:end-1) + edges(2:end)) / 2, counts, 1);
hold(ax, 'on');
plot(ax, result.score * [1 1], [0, max(1, max(counts)) * 1.05], 'r-', 'linewidth', 2);
hold(ax, 'off');
span = [min(lo, result.score), max(hi, result.score)];
xlim(ax, span + [-0.05 0.05] * (span(2) - span(1)));
names = struct('loss', 'log-loss', 'error', 'error', 'balanced', 'balanced error', 'auc', 'AUC');
what = result.measure;
if isfield(names, what)
    what = names.(what);
end
xlabel(ax, ['held-out ' what]);
ylabel(ax, 'permutations');
title(ax, sprintf('true score %.4g (red); p = %.4g over %d permutations', result.score, ...
                  result.p, numel(null)));
end

%!test  # the null's counts in bars, the true score a line; saved as a PNG
%! r = struct ("null", [0.5; 0.6; 0.6; 0.7; 0.9], "score", 0.1, "p", 1/6, "measure", "error");
%! h = dovex_plot_permtest (r);
%! unwind_protect
%!   line = findobj (h, "type", "line", "-and", "color", [1 0 0]);
%!   assert (get (line, "xdata"), [0.1 0.1]);
%!   bars = findobj (h, "-property", "ydata", "-not", "type", "line", "-not", "type", "axes");
%!   y = get (bars(1), "ydata");
%!   assert (sum (y), 5);
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

%!error id=dovex_plot_permtest:badInput dovex_plot_permtest (struct ("null", 1))
%!error id=dovex_plot_permtest:badInput dovex_plot_permtest ()
