function map = diverging_map(n)
%DIVERGING_MAP  n colours from blue through white to red.
%   The middle colour (n odd) is white, so with a colour scale symmetric
%   about zero a zero weight is shown neutral.
t = linspace(-1, 1, n)';
blue = [0.15 0.35 0.75];
red = [0.75 0.15 0.15];
map = zeros(n, 3);
neg = t < 0;
map(neg, :) = 1 - bsxfun(@times, -t(neg), 1 - blue);
map(~neg, :) = 1 - bsxfun(@times, t(~neg), 1 - red);
end
