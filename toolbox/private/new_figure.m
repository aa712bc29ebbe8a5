function h = new_figure(position)
%NEW_FIGURE  A figure for the plots, also where there is no display.
%   h = NEW_FIGURE(position) opens a figure of position [left bottom width
%   height] pixels. In Octave without a display (octave-cli on a server) it
%   is an invisible figure of the gnuplot toolkit, the one that renders
%   there; print(h, 'file.png', '-dpngcairo') then writes it without
%   Ghostscript.

if exist('OCTAVE_VERSION', 'builtin') && isempty(getenv('DISPLAY'))
    if ~strcmp(graphics_toolkit(), 'gnuplot') && any(strcmp(available_graphics_toolkits(), 'gnuplot'))
        graphics_toolkit('gnuplot');
    end
    % The toolkit warns on every figure that it is not the preferred one;
    % here it is the only one that works.
    id = 'Octave:gnuplot-graphics';
    was = warning('query', id);
    warning('off', id);
    h = figure('visible', 'off', 'position', position);
    warning(was.state, id);
else
    h = figure('position', position);
end
end
