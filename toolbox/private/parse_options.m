function opts = parse_options(fname, args, names)
%PARSE_OPTIONS  Read and check name-value options.
%   opts = PARSE_OPTIONS(fname, args, names) reads the pairs in the cell
%   array args. Each name must be one of names, in any case; opts gets a
%   field under the name as written in names for each option given, holding
%   its checked value. An odd count, a name that is not text, an unknown or
%   repeated name, or a value the option does not take raises
%   fname:badOption.

id = [fname ':badOption'];
if mod(numel(args), 2) ~= 0
    error(id, 'options come in name-value pairs; %d arguments are left over.', numel(args));
end
opts = struct();
for k = 1:2:numel(args)
    name = text_of(args{k});
    if isempty(name)
        error(id, 'option names are text; argument %d is a %s.', k + 2, class(args{k}));
    end
    hit = find(strcmpi(name, names), 1);
    if isempty(hit)
        error(id, '''%s'' is not an option of %s; its options are %s.', name, fname, ...
              strjoin(names, ', '));
    end
    name = names{hit};
    if isfield(opts, name)
        error(id, 'option ''%s'' is given twice.', name);
    end
    opts.(name) = check_value(id, fname, name, args{k + 1});
end
end

% The checked value of one option, in the form the functions use.
function v = check_value(id, fname, name, v)
switch name
    case 'Lambda1'
        if strcmp(fname, 'dovex_train')
            need(id, name, is_real(v) && isscalar(v) && v >= 0, 'a finite scalar of 0 or more');
        else
            need(id, name, is_real(v) && isvector(v) && all(v >= 0), ...
                 'a vector of finite values of 0 or more');
            v = v(:)';
        end
    case {'Lambda2', 'Lambda2Ratio'}
        need(id, name, is_real(v) && isscalar(v) && v >= 0, 'a finite scalar of 0 or more');
    case 'NumLambda'
        need(id, name, is_whole(v, 1, 10000), 'a whole number from 1 to 10000');
    case 'LambdaMinRatio'
        need(id, name, is_real(v) && isscalar(v) && v > 0 && v <= 1, ...
             'a scalar above 0 and at most 1');
    case 'Tol'
        need(id, name, is_real(v) && isscalar(v), 'a finite scalar');
    case 'MaxSweeps'
        need(id, name, is_whole(v, 1, 2147483647), 'a whole number from 1 to 2147483647');
    case {'Bias', 'Standardize'}
        need(id, name, is_flag(v), 'true or false');
        v = logical(v);
    case 'Offset'
        need(id, name, isa(v, 'double') && isreal(v) && ndims(v) == 2 && ...
             all(isfinite(v(:))), 'a finite real double matrix');
    case 'Seed'
        need(id, name, is_whole(v, 0, 4294967295), 'a whole number from 0 to 4294967295');
    case 'Display'
        if strcmp(fname, 'dovex_train')
            choices = {'sweeps', 'final', 'off'};
        else
            choices = {'final', 'off'};
        end
        v = lower(text_of(v));
        need(id, name, any(strcmp(v, choices)), one_of(choices));
    case 'Parallel'
        if is_flag(v)
            v = logical(v);
        else
            v = lower(text_of(v));
            need(id, name, strcmp(v, 'auto'), '''auto'', true or false');
        end
    case 'Workers'
        need(id, name, is_whole(v, 1, 1024), 'a whole number from 1 to 1024');
    case 'Folds'
        need(id, name, is_whole(v, 2, Inf), 'a whole number of 2 or more');
    case 'Select'
        v = lower(text_of(v));
        need(id, name, any(strcmp(v, {'min', '1se'})), one_of({'min', '1se'}));
end
if isnumeric(v)
    v = double(v);
end
end

function need(id, name, ok, what)
if ~ok
    error(id, 'option ''%s'' must be %s.', name, what);
end
end

function s = one_of(choices)
s = sprintf('''%s'', ', choices{:});
s = ['one of ' s(1:end-2)];
end

% A char row vector or a string scalar as char; '' for anything else.
function s = text_of(v)
s = '';
if ischar(v) && size(v, 1) == 1
    s = v;
elseif isa(v, 'string') && isscalar(v)
    s = char(v);
end
end

function ok = is_real(v)
ok = isnumeric(v) && isreal(v) && ~isempty(v) && all(isfinite(double(v(:))));
end

function ok = is_whole(v, lo, hi)
ok = is_real(v) && isscalar(v) && double(v) == round(double(v)) && v >= lo && v <= hi;
end

function ok = is_flag(v)
ok = (islogical(v) || isnumeric(v)) && isscalar(v) && isreal(v) && (v == 0 || v == 1);
end
