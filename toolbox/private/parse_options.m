function [opts, given] = parse_options(fname, args)
%PARSE_OPTIONS  Read and check the name-value options of a function.
%   [opts, given] = PARSE_OPTIONS(fname, args) reads the pairs in the cell
%   array args against the rows of option_table that fname takes. Each
%   name may be written in any case; opts has a field for every option of
%   fname, under the name as the table writes it: the checked value when
%   given, the table's default otherwise. given is a struct with a field
%   for each option given. An odd count, a name that is not text, an
%   unknown or repeated name, or a value the option does not take raises
%   fname:badOption.

id = [fname ':badOption'];
T = option_table();
T = T(cellfun(@(t) any(strcmp(fname, t)), {T.takers}));
names = {T.name};
if mod(numel(args), 2) ~= 0
    error(id, 'options come in name-value pairs; %d arguments are left over.', numel(args));
end
given = struct();
for k = 1:2:numel(args)
    name = args{k};
    if isa(name, 'string') && isscalar(name)
        name = char(name);
    end
    if ~ischar(name) || size(name, 1) ~= 1
        error(id, 'option names are text; argument %d is a %s.', k + 2, class(args{k}));
    end
    hit = find(strcmpi(name, names), 1);
    if isempty(hit)
        error(id, '''%s'' is not an option of %s; its options are %s.', name, fname, ...
              strjoin(names, ', '));
    end
    name = names{hit};
    if isfield(given, name)
        error(id, 'option ''%s'' is given twice.', name);
    end
    check = T(hit).check;
    [ok, value] = check(args{k + 1});
    if ~ok
        error(id, 'option ''%s'' must be %s.', name, T(hit).what);
    end
    given.(name) = value;
end
opts = struct();
for k = 1:numel(T)
    if isfield(given, names{k})
        opts.(names{k}) = given.(names{k});
    else
        opts.(names{k}) = T(k).default;
    end
end
end
