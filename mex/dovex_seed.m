%DOVEX_SEED  Seed the random draws of dovex_fit.
%   DOVEX_SEED(s) calls srand(s) in the C runtime whose rand() dovex_fit
%   draws from, so that the next dovex_fit call starts from a known point
%   of that sequence. After DOVEX_SEED(s), the same dovex_fit call gives the
%   same W, bit for bit, every time and in any session of the same build.
%   MATLAB's and Octave's own rand, randn and rng neither set nor read this
%   generator, and DOVEX_SEED leaves theirs alone.
%
%   s is a real numeric scalar of any class (double, single or an integer
%   class) holding a whole number from 0 to 4294967295. Anything else raises
%   dovex_seed:badSeed; a call with other than one input, or one that asks
%   for an output, raises dovex_seed:usage; where the module is not built,
%   the call raises dovex_seed:notCompiled. The same s gives different
%   sequences on Linux (the GNU C library's rand()) and Windows (the
%   Microsoft C runtime's).
%
%   On Linux, seeds 0 and 1 give the same draws: the GNU C library's srand
%   takes a seed of 0 as 1. (dovex_path and dovex_cv give their fits the
%   seeds Seed, Seed + 1, ..., so with Seed 0 their first two fits draw
%   alike; each is still a fit of its own penalty and reproducible.)
%
%   dovex_train, dovex_path and dovex_cv call it for you through their
%   'Seed' option.
%
%   Example:
%       D = dlmread('data/iris.csv', ',', 1, 0);
%       X = D(:,1:end-1);  ns = size(X,1);  nc = 3;
%       Y = zeros(ns,nc);  Y(sub2ind([ns nc], (1:ns)', D(:,end) + 1)) = 1;
%       args = {X, Y, zeros(ns,nc), ones(ns,nc), nc*ones(ns,1), 0.5, 0.1, 1e-4, 100};
%       dovex_seed(7);  evalc('W1 = dovex_fit(args{:});');
%       dovex_seed(7);  evalc('W2 = dovex_fit(args{:});');
%       isequal(W1, W2)                        % true
%
%   dovex version: unreleased sources
%
%   See also DOVEX_FIT, DOVEX_TRAIN.

function dovex_seed(varargin) %#ok<INUSD>
% Only reached when the compiled module is missing: it takes precedence over
% this file once built into the same folder.
error('dovex_seed:notCompiled', ...
      ['dovex_seed is not compiled for this platform: run make in %s ', ...
       'or build with CMake (see README.md).'], fileparts(mfilename('fullpath')));
end

%!function args = digits_call (max_sweeps)
%!  here = fileparts (which ("dovex_seed"));
%!  file = "";
%!  for d = {getenv("DOVEX_DATA_DIR"), fullfile(here, "data"), fullfile(here, "..", "data")}
%!    if (! isempty (d{1}) && exist (fullfile (d{1}, "digits.csv"), "file"))
%!      file = fullfile (d{1}, "digits.csv");
%!    endif
%!  endfor
%!  assert (! isempty (file), "bundled data digits.csv not found");
%!  D = dlmread (file, ",", 1, 0);
%!  [ns, nc] = deal (rows (D), 10);
%!  Y = full (sparse ((1:ns)', D(:,end) + 1, 1, ns, nc));
%!  args = {[D(:,1:end-1) / 16, ones(ns, 1)], Y, zeros(ns, nc), ones(ns, nc), ...
%!          nc * ones(ns, 1), 2, 0.5, 0, max_sweeps};
%!endfunction

%!test  # after the same seed the same call gives the same bits, whatever ran between
%! args = digits_call (10);
%! dovex_seed (123);
%! evalc ("W1 = dovex_fit (args{:});");
%! evalc ("W_next = dovex_fit (args{:});");   # the sequence goes on: other draws
%! rand ("seed", 1);  randn (3);  rand (5);  # Octave's own generators are apart
%! dovex_seed (123);
%! evalc ("W2 = dovex_fit (args{:});");
%! assert (typecast (W1(:), "uint64"), typecast (W2(:), "uint64"));
%! assert (! isequal (W1, W_next));

%!test  # different seeds visit different zero weights
%! args = digits_call (10);
%! for s = 1:3
%!   dovex_seed (s);
%!   evalc ("W = dovex_fit (args{:});");
%!   pattern(:,s) = W(:) != 0;
%! endfor
%! assert (! isequal (pattern(:,1), pattern(:,2)));
%! assert (! isequal (pattern(:,2), pattern(:,3)));

%!test  # any numeric class holding a whole number in range is a seed
%! args = digits_call (4);
%! dovex_seed (7);
%! evalc ("W = dovex_fit (args{:});");
%! for s = {single(7), int8(7), uint32(7), int64(7)}
%!   dovex_seed (s{1});
%!   evalc ("V = dovex_fit (args{:});");
%!   assert (isequal (V, W), class (s{1}));
%! endfor
%! dovex_seed (0);
%! dovex_seed (4294967295);
%! dovex_seed (uint64 (4294967295));

%!error id=dovex_seed:badSeed dovex_seed (-1)
%!error id=dovex_seed:badSeed dovex_seed (0.5)
%!error id=dovex_seed:badSeed dovex_seed (4294967296)
%!error id=dovex_seed:badSeed dovex_seed (NaN)
%!error id=dovex_seed:badSeed dovex_seed (Inf)
%!error id=dovex_seed:badSeed dovex_seed ([1 2])
%!error id=dovex_seed:badSeed dovex_seed ([])
%!error id=dovex_seed:badSeed dovex_seed (1 + 2i)
%!error id=dovex_seed:badSeed dovex_seed (sparse (1))
%!error id=dovex_seed:badSeed dovex_seed ("1")
%!error id=dovex_seed:badSeed dovex_seed (true)
%!error id=dovex_seed:badSeed dovex_seed ({1})
%!error id=dovex_seed:badSeed dovex_seed (int8 (-1))
%!error id=dovex_seed:usage dovex_seed ()
%!error id=dovex_seed:usage dovex_seed (1, 2)
%!error id=dovex_seed:usage x = dovex_seed (1)
%!error <s must be a whole number from 0 to 4294967295; it is 1.5> dovex_seed (1.5)
