function opts = with_defaults(opts, defaults)
%WITH_DEFAULTS  Fill in the options not given with their defaults.
names = fieldnames(defaults);
for k = 1:numel(names)
    if ~isfield(opts, names{k})
        opts.(names{k}) = defaults.(names{k});
    end
end
end
