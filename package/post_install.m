% pkg install runs this after copying the package: it puts the compiled
% modules in a folder of their own, one per architecture, and the .m files
% in the package folder. Octave shows a module's help only from a .m file
% beside it, so each help file moves next to its module.
function post_install(desc)
modules = dir(fullfile(desc.archprefix, '*', '*.mex'));
if isempty(modules)
    error('dovex:install', 'no compiled module under %s', desc.archprefix);
end
for k = 1:numel(modules)
    [~, name] = fileparts(modules(k).name);
    help_file = fullfile(desc.dir, [name '.m']);
    if exist(help_file, 'file')
        [ok, msg] = movefile(help_file, modules(k).folder);
        if ~ok
            error('dovex:install', 'cannot move %s beside its module: %s', help_file, msg);
        end
    end
end
end
