%MAKE  Build the dovex modules from their C++ sources.
%   MAKE compiles every gateway NAME.cpp of the sources' mex folder, each
%   with the fitting core, into the module NAME in the folder that holds
%   this file, beside its help file NAME.m, so that adding that folder to
%   the path (addpath) makes the functions callable, in MATLAB or Octave:
%     Octave             dovex_fit.mex     (mkoctfile --mex)
%     MATLAB on Linux    dovex_fit.mexa64  (mex)
%     MATLAB on Windows  dovex_fit.mexw64 or .mexw32, as MATLAB names it
%     MATLAB on macOS    dovex_fit.mexmaci64 (Intel) or .mexmaca64 (Apple silicon)
%   and dovex_seed and the others likewise.
%   It needs a C++17 compiler that the host knows (in MATLAB: mex -setup C++;
%   on macOS, Xcode's clang). It passes the compiler the C++17 and
%   floating-point flags alone, and the linker nothing of its own, so that
%   the one make serves every platform.
%
%   The sources are looked up in the project's layout (this file in mex/,
%   the core in ../core) and in the installed layout (src/mex and src/core
%   beside this file).
%
%   The core is compiled without fused multiply-adds and without fast-math,
%   so that a given build gives the same bits for the same inputs and the
%   same state of the C runtime's rand().
%
%   Example:
%       cd mex
%       make
%       addpath(pwd)
%
%   See also DOVEX_FIT, DOVEX_SEED.

function make()
here = fileparts(mfilename('fullpath'));
[mexdir, coredir] = find_sources(here);
core = dir(fullfile(coredir, '*.cpp'));
core = cellfun(@(f) fullfile(coredir, f), {core.name}, 'UniformOutput', false);
% Every gateway is a module of its own, all with the core, as in the CMake
% build: the modules must share the host's C runtime (dovex_seed seeds the
% rand() that dovex_fit draws from), so none is linked into another.
gateways = dir(fullfile(mexdir, '*.cpp'));
for k = 1:numel(gateways)
    [~, name] = fileparts(gateways(k).name);
    build_module(here, name, fullfile(mexdir, gateways(k).name), coredir, core);
end
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

function [mexdir, coredir] = find_sources(here)
roots = {fullfile(here, '..'), fullfile(here, 'src')};
for k = 1:numel(roots)
    mexdir = fullfile(roots{k}, 'mex');
    coredir = fullfile(roots{k}, 'core');
    if ~isempty(dir(fullfile(mexdir, '*.cpp'))) && exist(fullfile(coredir, 'exact_fp.flags'), 'file')
        return
    end
end
error('dovex_fit:make:noSources', ...
      'cannot find the gateways mex/*.cpp and core/ in %s or %s.', roots{:});
end

% The core's floating-point flags, one a line in core/exact_fp.flags, which
% the CMake build reads too.
function flags = exact_fp_flags(coredir)
lines = strtrim(strsplit(fileread(fullfile(coredir, 'exact_fp.flags')), sprintf('\n')));
flags = lines(~cellfun(@isempty, lines) & ~strncmp(lines, '#', 1));
end
