%DOVEX_PLOT_WEIGHTS  Show each class's weights as an image.
%   h = DOVEX_PLOT_WEIGHTS(model, image_size) reshapes each class's weights
%   (a column of model.W, without the bias row) to image_size, [rows cols],
%   and shows the classes side by side in a new figure, titled by class,
%   with one colour bar. All images share one diverging colour scale,
%   symmetric about zero: positive weights red, negative blue, and zero
%   white, so the features a class does not use show neutral. Returns the
%   figure handle. model is a dovex_train model or dovex_cv's cv.model;
%   prod(image_size) must be its number of features.
%
%   h = DOVEX_PLOT_WEIGHTS(model, image_size, Name, Value, ...) with
%     'Order'  'column' (default): the features are the pixels in MATLAB's
%              column-major order, as X(:) of an image; 'row': row by row,
%              as in data/digits.csv
%     'Axes'   one axes handle per class to draw into instead of a new
%              figure (the colour scale is then set on their figure)
%
%   It works without a display as dovex_plot_cv does; save it with print.
%
%   Errors: dovex_plot_weights:badModel, dovex_plot_weights:badSize,
%   dovex_plot_weights:badOption.
%
%   Example:
%       D = dlmread('data/digits.csv', ',', 1, 0);
%       model = dovex_train(D(:,1:end-1) / 16, D(:,end), 'Display', 'off');
%       h = dovex_plot_weights(model, [8 8], 'Order', 'row');
%
%   dovex version: unreleased sources
%
%   See also DOVEX_TRAIN, DOVEX_CV, DOVEX_PLOT_CV.

function h = dovex_plot_weights(model, image_size, varargin)
if nargin < 1 || ~isstruct(model) || ~isscalar(model) || ~all(isfield(model, {'W', 'classes', 'bias'})) ...
        || ndims(model.W) ~= 2
    error('dovex_plot_weights:badModel', ...
          'model must be a model from dovex_train (or dovex_cv''s cv.model).');
end
W = model.W(1:end - double(model.bias), :);
[nd, nc] = size(W);
if nargin < 2 || ~isnumeric(image_size) || numel(image_size) ~= 2 || ...
        any(image_size ~= round(image_size)) || any(image_size < 1) || prod(image_size) ~= nd
    error('dovex_plot_weights:badSize', ...
          'image_size must be [rows cols] with rows*cols = %d, the number of features.', nd);
end
[order, ax] = options(varargin, nc);

if isempty(ax)
    cols = ceil(sqrt(nc * 2));
    rows = ceil(nc / cols);
    h = new_figure([100 100 180 * cols + 120, 180 * rows + 40]);
    ax = zeros(1, nc);
    for j = 1:nc
        ax(j) = subplot(rows, cols, j);
    end
else
    h = ancestor(ax(1), 'figure');
end

top = max(abs(W(:)));
if ~(top > 0)
    top = 1;
end
names = class_names(model.classes);
for j = 1:nc
    if strcmp(order, 'row')
        img = reshape(W(:, j), image_size(2), image_size(1))';
    else
        img = reshape(W(:, j), image_size(1), image_size(2));
    end
    axes(ax(j));
    imagesc(img, [-top top]);
    axis(ax(j), 'image');
    set(ax(j), 'xtick', [], 'ytick', []);
    title(ax(j), names{j});
end
set(h, 'colormap', diverging_map(255));
% The bar goes beside the last image without shrinking it.
where = get(ax(nc), 'position');
bar = colorbar(ax(nc));
set(ax(nc), 'position', where);
set(bar, 'position', [where(1) + where(3) + 0.01, where(2), 0.015, where(4)]);
end

function [order, ax] = options(args, nc)
opts = parse_options('dovex_plot_weights', args);
[order, ax] = deal(opts.Order, opts.Axes);
if ~isempty(ax) && numel(ax) ~= nc
    error('dovex_plot_weights:badOption', ...
          'option ''Axes'' must be %d axes handles, one per class; it has %d.', nc, numel(ax));
end
end

% The classes as text, for the titles.
function names = class_names(classes)
if ischar(classes)
    names = cellstr(classes);
elseif iscell(classes)
    names = classes(:)';
elseif isnumeric(classes) || islogical(classes)
    names = arrayfun(@(c) num2str(c), classes(:)', 'UniformOutput', false);
else
    names = cellstr(classes(:)');
end
end

% The weight images of a figure, without the colour bar's own.
%!function images = weight_images (h)
%!  images = findobj (h, "type", "image");
%!  bar = strcmp (get (cell2mat (get (images, "parent")), "tag"), "colorbar");
%!  images = images(! bar);
%!endfunction

%!shared model
%! W = zeros (7, 3);
%! W(1:6,1) = [1 2 3 4 5 6];
%! W(1:6,2) = -[1 0 0 0 0 0];
%! W(7,:) = 9;                          # the bias row, left out of the images
%! model = struct ("W", W, "classes", {{"a"; "b"; "c"}}, "bias", true);

%!test  # one image per class on one colour scale centred at zero, zero white
%! h = dovex_plot_weights (model, [2 3]);
%! unwind_protect
%!   images = weight_images (h);
%!   assert (numel (images), 3);
%!   data = get (images, "cdata");
%!   assert (any (cellfun (@(c) isequal (c, [1 3 5; 2 4 6]), data)));
%!   for ax = get (images, "parent")'
%!     assert (get (ax{1}, "clim"), [-6 6]);
%!   endfor
%!   map = get (h, "colormap");
%!   assert (map((rows (map) + 1) / 2, :), [1 1 1]);
%!   assert (map(1,3) > map(1,1) && map(end,1) > map(end,3));   # blue below, red above
%!   titles = cellfun (@(ax) get (get (ax, "title"), "string"), get (images, "parent"), "UniformOutput", false);
%!   assert (sort (titles), {"a"; "b"; "c"});
%! unwind_protect_cleanup
%!   close (h);
%! end_unwind_protect

%!test  # pixels given row by row, into axes of one's own; numeric classes as titles
%! m = model;
%! m.classes = [3; 5; 8];
%! h = figure ("visible", "off");
%! unwind_protect
%!   ax = [subplot(1, 3, 1), subplot(1, 3, 2), subplot(1, 3, 3)];
%!   assert (dovex_plot_weights (m, [2 3], "Order", "row", "Axes", ax), h);
%!   assert (get (findobj (ax(1), "type", "image"), "cdata"), [1 2 3; 4 5 6]);
%!   assert (get (get (ax(3), "title"), "string"), "8");
%! unwind_protect_cleanup
%!   close (h);
%! end_unwind_protect

%!test  # all weights zero: a plain white picture, not an error
%! m = model;
%! m.W(:) = 0;
%! h = dovex_plot_weights (m, [3 2]);
%! assert (get (get (weight_images (h)(1), "parent"), "clim"), [-1 1]);
%! close (h);

%!error id=dovex_plot_weights:badModel dovex_plot_weights (struct ("W", 1), [1 1])
%!error id=dovex_plot_weights:badModel dovex_plot_weights (setfield (model, "W", zeros (7, 3, 2)), [2 3])
%!error id=dovex_plot_weights:badSize dovex_plot_weights (model, [2 2])
%!error id=dovex_plot_weights:badSize dovex_plot_weights (model)
%!error id=dovex_plot_weights:badOption dovex_plot_weights (model, [2 3], "Order", "diagonal")
%!error id=dovex_plot_weights:badOption dovex_plot_weights (model, [2 3], "Axes", [1 2])
