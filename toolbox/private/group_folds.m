function fold = group_folds(g, nfolds, seed)
%GROUP_FOLDS  Assign samples to folds, each group whole in one fold.
%   fold = GROUP_FOLDS(g, nfolds, seed) gives each sample (its group in g,
%   1..ng, ng >= nfolds) a fold from 1 to nfolds, all samples of a group
%   the same one. The groups, in an order shuffled by seed, are taken
%   largest first and each put in the fold with the fewest samples so far
%   (the first such), so the folds come out as even as whole groups allow;
%   with nfolds equal to ng each fold holds one group. The shuffle is that
%   of stratified_folds, from seed alone.

ng = max(g);
m = 2147483647;
state = mod(seed, m - 1) + 1;
order = (1:ng)';
for i = ng:-1:2
    state = mod(16807 * state, m);
    j = floor(state / m * i) + 1;
    order([i j]) = order([j i]);
end
sizes = accumarray(g(:), 1, [ng 1]);
% A stable sort keeps the shuffled order among groups of one size.
[~, by_size] = sort(-sizes(order));
order = order(by_size);
of_group = zeros(ng, 1);
total = zeros(nfolds, 1);
for i = 1:ng
    [~, f] = min(total);
    of_group(order(i)) = f;
    total(f) = total(f) + sizes(order(i));
end
fold = of_group(g(:));
end
