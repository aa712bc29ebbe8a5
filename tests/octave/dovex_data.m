% [X, Y, label] = dovex_data(name) reads data/<name>.csv, a bundled data set,
% as the tests use it: X the features, Y the one-hot targets (one column per
% class) and label the class of each sample, from 0. The data folder comes
% from the environment variable DOVEX_DATA_DIR, which ctest sets.
function [X, Y, label] = dovex_data(name)
D = dlmread(fullfile(getenv('DOVEX_DATA_DIR'), [name '.csv']), ',', 1, 0);
X = D(:, 1:end-1);
label = D(:, end);
ns = size(D, 1);
Y = zeros(ns, max(label) + 1);
Y(sub2ind(size(Y), (1:ns)', label + 1)) = 1;
end
