function s = fit_summary(model)
%FIT_SUMMARY  One line saying how a fit went.
if model.converged
    how = 'converged';
else
    how = 'not converged';
end
s = sprintf('lambda1 %.4g, lambda2 %.4g: %d sweeps, %s, %d of %d weights non-zero, %.2f s', ...
            model.lambda1, model.lambda2, model.sweeps, how, model.nnz, numel(model.W), ...
            model.fit_seconds);
end
