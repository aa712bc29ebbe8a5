## The fit as a user runs it in Octave: how well it classifies real data it
## has not seen, how it shares the C runtime's rand() with the process, and
## that it gives the same bits as the same gateway and core loaded by the
## stand-in MATLAB host.

## The demo's problem: digits scaled to 0..1 plus a constant feature, every
## fifth sample held out.
%!function [Xf, Yf, Xh, lh] = digits_split ()
%!  [X, Y, label] = dovex_data ("digits");
%!  X = [X / 16, ones(size (X, 1), 1)];
%!  held = mod ((1:size (X, 1))', 5) == 0;
%!  [Xf, Yf, Xh, lh] = deal (X(! held,:), Y(! held,:), X(held,:), label(held));
%!endfunction

%!function W = fit_from_zero (X, Y, lambda1, lambda2, tol, max_sweeps)
%!  [ns, nc] = deal (rows (X), columns (Y));
%!  W = dovex_fit (X, Y, zeros (ns, nc), ones (ns, nc), nc * ones (ns, 1),
%!                 lambda1, lambda2, tol, max_sweeps);
%!endfunction

%!test  # held-out digits are classified far better than any broken fit would
%! [Xf, Yf, Xh, lh] = digits_split ();
%! c_rand ("seed", 1);
%! evalc ("W = fit_from_zero (Xf, Yf, 2, 0.5, 1e-3, 500);");
%! [~, predicted] = max (Xh * W, [], 2);
%! accuracy = mean (predicted - 1 == lh);
%! assert (accuracy > 0.93, "held-out accuracy %.4f", accuracy);
%! ## the L1 penalty leaves a sparse W, but not an empty one
%! share = nnz (W) / numel (W);
%! assert (share > 0.15 && share < 0.6, "share of non-zero weights %.4f", share);

%!test  # a larger L1 penalty zeroes more weights
%! [Xf, Yf] = digits_split ();
%! c_rand ("seed", 1);
%! evalc ("W2 = fit_from_zero (Xf, Yf, 2, 0.5, 1e-3, 100);");
%! evalc ("W20 = fit_from_zero (Xf, Yf, 20, 0.5, 1e-3, 100);");
%! assert (nnz (W20) < nnz (W2) / 2);

%!test  # the same rand() state gives the same bits
%! [Xf, Yf] = digits_split ();
%! c_rand ("seed", 3);
%! evalc ("W1 = fit_from_zero (Xf, Yf, 2, 0.5, 0, 30);");
%! c_rand ("seed", 3);
%! evalc ("W2 = fit_from_zero (Xf, Yf, 2, 0.5, 0, 30);");
%! assert (typecast (W1(:), "uint64"), typecast (W2(:), "uint64"));

%!test  # each sweep draws one rand() value per (feature, class) pair
%! [X, Y] = dovex_data ("iris");
%! c_rand ("seed", 9);
%! draws = c_rand (3 * 4 * 3 + 1);
%! ## tol = -1 keeps the loop going to the sweep limit
%! c_rand ("seed", 9);
%! out = evalc ("W = fit_from_zero (X, Y, 0.5, 0.1, -1, 3);");
%! assert (numel (strfind (out, "sweep :")), 3);
%! assert (c_rand (1), draws(end));

%!test  # max_sweeps below 1 draws nothing from rand()
%! [X, Y] = dovex_data ("iris");
%! for m = [0.5 0 -3 NaN]
%!   c_rand ("seed", 11);
%!   evalc ("W = fit_from_zero (X, Y, 0.5, 0.1, 1e-4, m);");
%!   next = c_rand (1);
%!   c_rand ("seed", 11);
%!   assert (next, c_rand (1));
%! endfor

%!test  # the stand-in MATLAB host computes the very same W
%! mexrun = getenv ("DOVEX_MEXRUN");
%! module = getenv ("DOVEX_MEXA64");
%! assert (isfile (mexrun) && isfile (module),
%!         "stand-in host or dovex_fit.mexa64 not found");
%! w_file = [tempname() ".csv"];
%! unwind_protect
%!   ## mexrun fits from the C library's initial state, the one srand(1) sets
%!   cmd = sprintf ('"%s" "%s" "%s" 2 0.5 0.001 60 "%s"', mexrun, module,
%!                  fullfile (getenv ("DOVEX_DATA_DIR"), "digits.csv"), w_file);
%!   [status, out] = system (cmd);
%!   assert (status == 0, "mexrun failed: %s", out);
%!   text = strtrim (fileread (w_file));
%! unwind_protect_cleanup
%!   if (exist (w_file, "file"))
%!     delete (w_file);
%!   endif
%! end_unwind_protect
%! W_standin = cellfun (@(r) str2double (strsplit (r, ",")), strsplit (text, "\n"),
%!                      "UniformOutput", false);
%! W_standin = vertcat (W_standin{:});
%! [X, Y] = dovex_data ("digits");
%! c_rand ("seed", 1);
%! evalc ("W = fit_from_zero (X, Y, 2, 0.5, 0.001, 60);");
%! assert (size (W_standin), size (W));
%! ## the same bits, the sign of zeros included
%! assert (typecast (W(:), "uint64"), typecast (W_standin(:), "uint64"));
%! assert (nnz (W) > 0);

%!test  # a sparse X: the bits and the lines of full(X), over many sweeps
%! [Xf, Yf] = digits_split ();
%! S = sparse (Xf);
%! assert (nnz (S) < 0.6 * numel (Xf));
%! c_rand ("seed", 5);
%! out_full = evalc ("Wf = fit_from_zero (full (S), Yf, 2, 0.5, 0, 40);");
%! next_full = c_rand (1);
%! c_rand ("seed", 5);
%! out_sparse = evalc ("Ws = fit_from_zero (S, Yf, 2, 0.5, 0, 40);");
%! assert (c_rand (1), next_full);
%! assert (out_sparse, out_full);
%! assert (numel (strfind (out_sparse, "sweep :")), 40);
%! assert (typecast (Ws(:), "uint64"), typecast (Wf(:), "uint64"));

%!test  # a sparse X of more elements than 32-bit counts reach is fitted as it is
%! ## 60000 x 50000 would be 24 GB full; features 1..10 are on samples
%! ## 1..1000, feature i on the samples of "its" class mod (i, 2).
%! [ns, nd] = deal (60000, 50000);
%! k = (1:1000)';
%! S = sparse (k, mod (k - 1, 10) + 1, 1, ns, nd);
%! Y = double ([mod((1:ns)', 2) == 1, mod((1:ns)', 2) == 0]);
%! c_rand ("seed", 2);
%! out = evalc ("W = fit_from_zero (S, Y, 1, 0.1, 1e-6, 3);");
%! assert (numel (strfind (out, "sweep :")), 3);
%! assert (size (W), [nd 2]);
%! assert (all (W(1:2:9, 1) > 0) && all (W(2:2:10, 2) > 0));
%! assert (nnz (W(11:end,:)), 0);

%!test  # dovex_solve from zeros is dovex_fit: the same bits, lines and draws, silent or not
%! [Xf, Yf] = digits_split ();
%! [ns, nd, nc] = deal (rows (Xf), columns (Xf), columns (Yf));
%! for S = {Xf, sparse(Xf)}
%!   c_rand ("seed", 4);
%!   out_fit = evalc ("W1 = fit_from_zero (S{1}, Yf, 2, 0.5, 0, 25);");
%!   next = c_rand (1);
%!   for display = [true false]
%!     c_rand ("seed", 4);
%!     out = evalc ("[W2, info] = dovex_solve (S{1}, Yf, zeros (nd, nc), zeros (ns, nc), ones (ns, nc), nc * ones (ns, 1), 2, 0.5, 0, 25, struct ('display', display));");
%!     assert (c_rand (1), next);
%!     assert (typecast (W2(:), "uint64"), typecast (W1(:), "uint64"));
%!     if (display)
%!       assert (out, out_fit);
%!     else
%!       assert (isempty (out));
%!     endif
%!     assert (info.sweeps, 25);
%!     ## the later sweeps skip most zero weights
%!     assert (info.visits(1), nd * nc);
%!     assert (info.visits(end) < nnz (W2) + (nd * nc - nnz (W2)) / 2);
%!   endfor
%! endfor

%!test  # on standardised digits newton, then block, reach the same optimum in far fewer sweeps
%! [X, Y] = dovex_data ("digits");
%! X = (X - mean (X)) ./ max (std (X), 1e-12);
%! X = [X, ones(rows (X), 1)];
%! [ns, nd, nc] = deal (rows (X), columns (X), columns (Y));
%! f = [ones(nd - 1, 1); 0];
%! lambda1 = 0.1 * max (max (abs (X(:,1:end-1)' * (Y - 1 / nc))));
%! objective = @(W) sum (sum (Y .* (X * W - log (sum (exp (X * W), 2))))) - lambda1 * (f' * sum (abs (W), 2)) - 0.05 * lambda1 * (f' * sum (W .^ 2, 2));
%! for method = {"bound", "newton", "block"}
%!   c_rand ("seed", 1);
%!   [W, info] = dovex_solve (X, Y, zeros (nd, nc), zeros (ns, nc), ones (ns, nc), nc * ones (ns, 1), lambda1, 0.1 * lambda1, 1e-8, 5000, struct ("display", false, "method", method{1}, "penalty", f));
%!   assert (info.converged);
%!   result.(method{1}) = struct ("sweeps", info.sweeps, "objective", objective (W));
%! endfor
%! assert (result.newton.sweeps < result.bound.sweeps / 2, "sweeps %d and %d", result.bound.sweeps, result.newton.sweeps);
%! assert (result.newton.objective, result.bound.objective, 1e-6 * abs (result.bound.objective));
%! assert (result.block.sweeps < result.newton.sweeps / 2, "sweeps %d and %d", result.newton.sweeps, result.block.sweeps);
%! assert (result.block.objective, result.bound.objective, 1e-6 * abs (result.bound.objective));
