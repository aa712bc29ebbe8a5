function report_fits(fname, models, lambda1)
%REPORT_FITS  One warning for the failed fits of a call, one for the others
%   that ran out of sweeps.
%   REPORT_FITS(fname, models, lambda1) takes the models of a call's fits
%   (any array of cells) and the lambda1 of each. Failed fits (a non-empty
%   field failure) raise the warning fname:fitFailed with their count,
%   penalties and first reason; fits that stopped at MaxSweeps without
%   converging raise dovex:notConverged with their count and penalties.

failed = cellfun(@(m) ~isempty(m.failure), models);
unconverged = cellfun(@(m) ~m.converged, models) & ~failed;
if any(failed(:))
    first = models(failed);
    warning([fname ':fitFailed'], '%s: %d of %d fits failed, at lambda1 %s; the first: %s.', ...
            fname, nnz(failed), numel(models), penalties(lambda1(failed)), first{1}.failure);
end
if any(unconverged(:))
    warning('dovex:notConverged', ['%s: %d of %d fits stopped at MaxSweeps without ', ...
            'converging, at lambda1 %s. Raise MaxSweeps or Tol.'], fname, ...
            nnz(unconverged), numel(models), penalties(lambda1(unconverged)));
end
end

function s = penalties(values)
values = unique(values(:));
s = sprintf('%.4g, ', flipud(values));
s = s(1:end-2);
end
