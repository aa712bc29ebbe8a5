%DOVEX_FIT  Sparse multinomial logistic regression (L1 + L2 penalty).
%   W = DOVEX_FIT(X,Y,XW,E,Z,lambda1,lambda2,tol,max_sweeps) fits the weights
%   W of a linear classifier with one weight column per class, maximising the
%   multinomial log-likelihood minus lambda1*sum(abs(W(:))) and
%   lambda2/2*sum(W(:).^2). The L1 part drives weights to exactly zero. The
%   fit visits one weight at a time and moves it to the maximum of a
%   quadratic lower bound of the objective in that weight alone, in sweeps
%   over all (feature, class) pairs.
%
%   All inputs are real, full (not sparse) arrays of class double.
%     X           ns-by-nd  data, one row per sample, one column per feature.
%     Y           ns-by-ny  targets: Y(k,j) is 1 when sample k is of class j
%                           and 0 otherwise. ny >= nc; columns 1..nc are used.
%     XW          ns-by-nc  starting predictors, one column per class.
%     E           ns-by-nc  exp(XW).
%     Z           ns values sum(E,2), the per-sample sums of E.
%     lambda1     scalar    L1 penalty weight, >= 0.
%     lambda2     scalar    L2 penalty weight, >= 0.
%     tol         scalar    stop once the relative change of W over a sweep
%                           is tol or less.
%     max_sweeps  scalar    largest number of sweeps; below 1 runs none and
%                           returns zeros.
%   Of lambda1, lambda2, tol and max_sweeps the first element is used.
%   The result W is an nd-by-nc double matrix. The inputs are not modified.
%
%   Starting state. The fit always starts from W = zeros(nd,nc). To fit from
%   scratch, pass
%       XW = zeros(ns,nc);  E = ones(ns,nc);  Z = nc*ones(ns,1);
%   A non-zero XW is a fixed offset per sample and class that the fit adds
%   to X*W throughout (for example the scores of an earlier model), and the
%   class probabilities of the fitted model are then softmax(XW + X*W); E
%   and Z must match it: E = exp(XW), Z = sum(E,2).
%
%   Progress. Each sweep prints one line and then runs drawnow:
%       sweep : 12, diff : 0.0031
%   where diff is norm(W_start - W,'fro')/norm(W,'fro'), the change of W
%   over that sweep relative to W at its end (1.0000 after a first sweep
%   that leaves some weight non-zero, NaN while W stays all zero).
%
%   Interrupting. In Octave, Ctrl-C stops a fit at the end of the sweep under
%   way, when the module runs drawnow after the progress line, and returns to
%   the prompt: the call returns nothing, so W keeps what it held before, and
%   Octave frees the memory the call had taken. MATLAB gets the same chance
%   at each sweep's drawnow. A sweep itself cannot be interrupted.
%
%   Random draws. From the second sweep on, a weight that is zero is visited
%   only with a probability that falls by a factor 0.3 each time a visit
%   leaves it at zero. The draws come from the C runtime's rand(), which the
%   module never seeds: MATLAB's and Octave's rand, randn and rng do not
%   affect it. Two calls in one session continue the same sequence and may
%   return slightly different W; the same calls in the same order in a fresh
%   session give the same bits, as long as nothing else draws from rand().
%
%   Platforms. The Linux builds (dovex_fit.mexa64 for MATLAB, dovex_fit.mex
%   for Octave) draw from the GNU C library's rand(), whose largest value is
%   2147483647; the 32-bit Windows build (dovex_fit.mexw32) draws from the
%   Microsoft C runtime's, whose largest value is 32767. From the second
%   sweep on the two can visit different zero weights and so return a
%   different W for the same inputs; otherwise they run the same steps and
%   agree up to the last bits of rounding. A fresh Octave has already drawn
%   twice from rand() when it starts.
%
%   Errors. A wrong number of inputs or outputs prints the usage line and
%   raises "Incorrect number of arguments."; a call with no inputs does
%   nothing. Inputs of the wrong class, complexity, sparsity or size raise
%   dovex_fit:notDouble, dovex_fit:complex, dovex_fit:sparse,
%   dovex_fit:notMatrix, dovex_fit:badSize, dovex_fit:emptyScalar or
%   dovex_fit:tooLarge (more than 2147483647 elements) before any work.
%
%   Example:
%       D = dlmread('data/iris.csv', ',', 1, 0);  % features, then class 0..2
%       X = [D(:,1:end-1), ones(size(D,1),1)];    % add a constant feature
%       [ns, nc] = deal(size(X,1), max(D(:,end)) + 1);
%       Y = zeros(ns,nc);  Y(sub2ind([ns nc], (1:ns)', D(:,end) + 1)) = 1;
%       W = dovex_fit(X, Y, zeros(ns,nc), ones(ns,nc), nc*ones(ns,1), ...
%                     0.5, 0.1, 1e-4, 500);
%       P = exp(X*W);  P = P ./ sum(P,2);         % softmax(X*W)
%       [~, predicted] = max(P, [], 2);           % class of each row, 1..nc
%       mean(predicted == D(:,end) + 1)           % training accuracy
%
%   See also MAKE, DEMO_DIGITS.

function W = dovex_fit(varargin) %#ok<STOUT,INUSD>
% Only reached when the compiled module is missing: it takes precedence over
% this file once built into the same folder.
error('dovex_fit:notCompiled', ...
      ['dovex_fit is not compiled for this platform: run make in %s ', ...
       'or build with CMake (see README.md).'], fileparts(mfilename('fullpath')));
end
