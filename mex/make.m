%MAKE  Build the dovex_fit and dovex_seed modules from their C++ sources.
%   MAKE compiles the gateway dovex_fit.cpp and the fitting core, and the
%   gateway dovex_seed.cpp, into the folder that holds this file, beside
%   dovex_fit.m and dovex_seed.m, so that adding that folder to the path
%   (addpath) makes them callable, in MATLAB or Octave:
%     Octave             dovex_fit.mex     (mkoctfile --mex)
%     MATLAB on Linux    dovex_fit.mexa64  (mex)
%     MATLAB on Windows  dovex_fit.mexw64 or .mexw32, as MATLAB names it
%   and dovex_seed likewise.
%   It needs a C++17 compiler that the host knows (in MATLAB: mex -setup C++).
%
%   The sources are looked up in the project's layout (this file in mex/,
%   the core in ../core) and in the installed layout (src/mex and src/core
%   beside this file).
%
%   The core is compiled without fused multiply-adds and without fast-math,
%   so that a given build gives the same bits for the same inputs and the
%   same state of the C runtime's rand().
%
%   See also DOVEX_FIT.

function make()
here = fileparts(mfilename('fullpath'));
[gateway, coredir] = find_sources(here);
core = dir(fullfile(coredir, '*.cpp'));
core = cellfun(@(f) fullfile(coredir, f), {core.name}, 'UniformOutput', false);
% dovex_seed is a module of its own (it must share the host's C runtime
% with dovex_fit) and needs no core.
build_module(here, 'dovex_fit', gateway, coredir, core);
build_module(here, 'dovex_seed', fullfile(fileparts(gateway), 'dovex_seed.cpp'), coredir, {});
end

function build_module(here, name, gateway, coredir, core)
incs = {['-I' fileparts(gateway)], ['-I' coredir]};
fpflags = exact_fp_flags(coredir);

if exist('OCTAVE_VERSION', 'builtin')
    out = fullfile(here, [name '.mex']);
    octave_mkoctfile({'--mex', '-o', out, '-std=c++17', fpflags{:}, incs{:}, gateway, core{:}});
else
    % Windows compilers in MATLAB are MSVC (/fp:precise never contracts)
    % or MinGW (gcc flags, as on Linux).
    cc = mex.getCompilerConfigurations('C++', 'Selected');
    if ~isempty(cc) && strncmpi(cc(1).ShortName, 'MSVC', 4)
        flags = {'COMPFLAGS=$COMPFLAGS /std:c++17 /fp:precise'};
    else
        flags = {['CXXFLAGS=$CXXFLAGS -std=c++17', sprintf(' %s', fpflags{:})]};
    end
    % 32-bit dimensions: the module creates its result with the matrix
    % constructor that takes them.
    mex('-compatibleArrayDims', '-outdir', here, '-output', name, ...
        flags{:}, incs{:}, gateway, core{:});
    out = fullfile(here, [name '.' mexext]);
end
% Let the running session see the new module instead of the help file.
clear(name);
rehash();
fprintf('built %s\n', out);
end

% Octave's mkoctfile and mex return a status instead of raising an error, and
% the compiler's messages go past on stderr. mkoctfile is run here through
% the shell instead, so that a failed build stops make with those messages.
function octave_mkoctfile(args)
program = fullfile(feval('__octave_config_info__', 'bindir'), 'mkoctfile');
[status, out] = system([sprintf('"%s" ', program, args{:}), '2>&1']);
if status ~= 0
    error('dovex_fit:make:failed', 'mkoctfile failed with status %d:\n%s', status, out);
end
fprintf('%s', out);
end

function [gateway, coredir] = find_sources(here)
roots = {fullfile(here, '..'), fullfile(here, 'src')};
for k = 1:numel(roots)
    gateway = fullfile(roots{k}, 'mex', 'dovex_fit.cpp');
    coredir = fullfile(roots{k}, 'core');
    if exist(gateway, 'file') && exist(fullfile(roots{k}, 'mex', 'dovex_seed.cpp'), 'file') && ...
            exist(fullfile(coredir, 'exact_fp.flags'), 'file')
        return
    end
end
error('dovex_fit:make:noSources', ...
      'cannot find mex/dovex_fit.cpp, mex/dovex_seed.cpp and core/ in %s or %s.', roots{:});
end

% The core's floating-point flags, one a line in core/exact_fp.flags, which
% the CMake build reads too.
function flags = exact_fp_flags(coredir)
lines = strtrim(strsplit(fileread(fullfile(coredir, 'exact_fp.flags')), sprintf('\n')));
flags = lines(~cellfun(@isempty, lines) & ~strncmp(lines, '#', 1));
end
