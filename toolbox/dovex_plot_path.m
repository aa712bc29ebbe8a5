%DOVEX_PLOT_PATH  Plot the coefficient path: every weight against lambda1.
%   h = DOVEX_PLOT_PATH(path) draws, for a path from dovex_path, each
%   feature's weight (in the units of X) against lambda1 on a log axis, one
%   panel per class, in a new figure, and returns its handle. Only the
%   features whose weight is not zero at some penalty are drawn; the
%   intercepts are not. Penalties of 0 cannot sit on a log axis and are
%   left out.
%   h = DOVEX_PLOT_PATH(cv) does so for a dovex_cv result fitted with
%   WarmStart (its whole data's path, cv.path_W), and marks the chosen
%   penalties: lambda1_min (solid line) and lambda1_1se (dashed).
%   h = DOVEX_PLOT_PATH(path, cv) marks cv's choices on a path of one's own
%   (a dovex_cv without WarmStart keeps no path: fit one on the same grid).
%   [h, ax] = DOVEX_PLOT_PATH(...) also returns the axes, one per class.
%
%   It works without a display (octave-cli on a server): the figure is then
%   invisible and drawn with the gnuplot toolkit. Save it with
%       print(h, 'path.png', '-dpng')         % MATLAB, Octave with Ghostscript
%       print(h, 'path.png', '-dpngcairo')    % Octave with gnuplot, no Ghostscript
%
%   Errors: dovex_plot_path:badInput.
%
%   Example:
%       D = dlmread('data/iris.csv', ',', 1, 0);
%       cv = dovex_cv(D(:,1:4), D(:,5), 'Lambda1', logspace(2, -2, 15));
%       h = dovex_plot_path(cv);
%
%   dovex version: unreleased sources
%
%   See also DOVEX_PATH, DOVEX_CV, DOVEX_FEATURES, DOVEX_PLOT_CV.

function [h, ax] = dovex_plot_path(p, cv)
if nargin < 1 || ~isstruct(p) || ~isscalar(p)
    error('dovex_plot_path:badInput', 'give a struct from dovex_path or dovex_cv.');
end
if nargin < 2
    cv = [];
end
if isfield(p, 'path_W')
    if isempty(p.path_W)
        error('dovex_plot_path:badInput', ['this dovex_cv ran without WarmStart and kept ', ...
              'no path: give dovex_plot_path(dovex_path(...same grid...), cv).']);
    end
    cv = p;
    p = struct('W', p.path_W, 'lambda1', p.lambda1, 'classes', {p.model.classes}, ...
               'bias', p.model.bias);
end
if ~all(isfield(p, {'W', 'lambda1', 'classes', 'bias'})) || ...
        size(p.W, 3) ~= numel(p.lambda1)
    error('dovex_plot_path:badInput', 'give a struct from dovex_path or dovex_cv.');
end
if ~isempty(cv) && ~(isstruct(cv) && all(isfield(cv, {'lambda1_min', 'lambda1_1se'})))
    error('dovex_plot_path:badInput', 'the second argument must be a struct from dovex_cv.');
end

[lambda1, order] = sort(p.lambda1(:)');
keep = lambda1 > 0;
lambda1 = lambda1(keep);
order = order(keep);
nd = size(p.W, 1) - double(p.bias);
nc = size(p.W, 2);
h = new_figure([100 100 800 max(300, 220 * nc)]);
ax = zeros(1, nc);
for c = 1:nc
    ax(c) = subplot(nc, 1, c);
    Wc = reshape(p.W(1:nd, c, order), nd, numel(order));
    Wc = Wc(any(Wc ~= 0 & isfinite(Wc), 2), :);
    if isempty(Wc)
        Wc = zeros(1, numel(lambda1));
    end
    semilogx(ax(c), lambda1, Wc', '-');
    hold(ax(c), 'on');
    span = [min(Wc(:)), max(Wc(:))];
    if ~all(isfinite(span)) || span(1) == span(2)
        span = [-1 1];
    end
    if ~isempty(cv)
        semilogx(ax(c), cv.lambda1_min * [1 1], span, 'k-');
        semilogx(ax(c), cv.lambda1_1se * [1 1], span, 'k--');
    end
    hold(ax(c), 'off');
    if ~isempty(lambda1)
        xlim(ax(c), [min(lambda1) / 1.3, max(lambda1) * 1.3]);
    end
    ylabel(ax(c), 'weight');
    title(ax(c), sprintf('class %s: %d features', class_text(p.classes, c), ...
          nnz(any(Wc ~= 0, 2))));
    grid(ax(c), 'on');
end
xlabel(ax(nc), 'lambda1');
end

function s = class_text(classes, c)
if iscell(classes)
    s = classes{c};
elseif ischar(classes)
    s = classes(c, :);
elseif isnumeric(classes) || islogical(classes)
    s = num2str(double(classes(c)));
else
    s = char(classes(c));
end
end

%!shared p, cv, X, label
%! t = (1:90)';
%! X = [mod(t * 7, 11), mod(t * 5, 13), floor((t - 1) / 30) + mod(t, 3) / 4, mod(t, 2)];
%! label = floor ((t - 1) / 30);
%! grid = [10 1 0.1 0.01 0.001 0];
%! cv = dovex_cv (X, label, "Lambda1", grid, "Folds", 3, "Parallel", false);
%! p = dovex_path (X, label, "Lambda1", grid, "Parallel", false);

%!test  # a panel per class, a curve per feature that enters, the choices marked; a PNG
%! assert (cv.path_W, p.W);
%! [h, ax] = dovex_plot_path (cv);
%! unwind_protect
%!   assert (numel (ax), 3);
%!   assert (get (ax, "xscale"), {"log"; "log"; "log"});
%!   for c = 1:3
%!     lines = findobj (ax(c), "type", "line");
%!     x = get (lines, "xdata");
%!     y = get (lines, "ydata");
%!     curves = cellfun (@numel, x) == 5;          # lambda1 = 0 left out
%!     entered = find (any (p.W(1:4,c,1:5) != 0, 3));
%!     assert (nnz (curves), max (numel (entered), 1));
%!     assert (sort (cellfun (@(v) v(1), y(curves))), sort (p.W(entered,c,5)));  # at lambda1 0.001
%!     marks = cellfun (@(v) v(1), x(! curves));
%!     assert (sort (marks), sort ([cv.lambda1_min; cv.lambda1_1se]));
%!   endfor
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
%! h = dovex_plot_path (p);                  # a path alone: no marks
%! unwind_protect
%!   x = get (findobj (h, "type", "line"), "xdata");
%!   assert (all (cellfun (@numel, x) == 5));
%! unwind_protect_cleanup
%!   close (h);
%! end_unwind_protect

%!error id=dovex_plot_path:badInput dovex_plot_path (struct ("W", 1))
%!error id=dovex_plot_path:badInput dovex_plot_path ()
%!error id=dovex_plot_path:badInput dovex_plot_path (dovex_cv (X, label, "Lambda1", [3 1], "Folds", 3, "WarmStart", false))
%!error id=dovex_plot_path:badInput dovex_plot_path (p, 1)
