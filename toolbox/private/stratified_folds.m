function fold = stratified_folds(y, nfolds, seed)
%STRATIFIED_FOLDS  Assign samples to folds, each class spread evenly.
%   fold = STRATIFIED_FOLDS(y, nfolds, seed) gives each sample (its class in
%   y, 1..nc) a fold from 1 to nfolds: each class's samples in a shuffled
%   order are dealt to the folds in turn, the deal carrying on from one
%   class to the next so that the folds' sizes differ by one at most. The
%   shuffle comes from a generator of its own, seeded by seed, so the folds
%   depend on nothing else: not on MATLAB's or Octave's generators, which
%   are left alone, nor on the C runtime's.

% Park and Miller's minimal standard generator: every product stays below
% 2^53, so it runs exactly alike in any host.
m = 2147483647;
state = mod(seed, m - 1) + 1;
fold = zeros(numel(y), 1);
dealt = 0;
for c = 1:max(y)
    members = find(y(:) == c);
    % Fisher-Yates shuffle of the class's samples.
    for i = numel(members):-1:2
        state = mod(16807 * state, m);
        j = floor(state / m * i) + 1;
        members([i j]) = members([j i]);
    end
    fold(members) = mod(dealt + (0:numel(members)-1)', nfolds) + 1;
    dealt = dealt + numel(members);
end
end
