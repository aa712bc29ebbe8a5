function [P, logP] = log_softmax(S)
%LOG_SOFTMAX  Class probabilities of scores, row by row, without overflow.
%   [P, logP] = LOG_SOFTMAX(S) gives P = exp(S) ./ sum(exp(S), 2) and its
%   logarithm for an n-by-nc matrix of scores, computed from S minus each
%   row's largest score. Rows of P sum to 1; a row whose largest score is
%   infinite shares its probability among the classes that reach it.

m = max(S, [], 2);
top = ~isfinite(m);
m(top) = 0;
S = bsxfun(@minus, S, m);
if any(top)
    % exp(Inf - Inf) is NaN: those rows are decided by who reaches the top.
    S(top, :) = log(double(bsxfun(@eq, S(top, :), max(S(top, :), [], 2))));
end
lse = log(sum(exp(S), 2));
logP = bsxfun(@minus, S, lse);
P = exp(logP);
end
