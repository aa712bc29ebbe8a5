## Many calls in one Octave session, as a user's cross-validation loop makes
## them: no memory growth, and no state carried from one call to the next.

## Resident memory of this Octave process, in KiB.
%!function kb = rss_kb ()
%!  status = fileread ("/proc/self/status");
%!  kb = str2double (regexp (status, 'VmRSS:\s*(\d+)', "tokens", "once"){1});
%!endfunction

%!function args = random_problem (ns, nd, nc)
%!  X = rand (ns, nd);
%!  Y = full (sparse ((1:ns)', randi (nc, ns, 1), 1, ns, nc));
%!  args = {X, Y, zeros(ns, nc), ones(ns, nc), nc * ones(ns, 1), 0.1, 0.1, -1, 2};
%!endfunction

## n fits, and after every tenth a call refused for a short Z; returns what
## they printed.
%!function out = many_calls (n, args, bad)
%!  out = evalc (["for k = 1:n, W = dovex_fit (args{:}); ", ...
%!                "if (mod (k, 10) == 0), try, V = dovex_fit (bad{:}); catch, end, end, end"]);
%!endfunction

%!test  # 2,000 calls, a tenth of them refused, leave the memory as it was
%! rand ("seed", 42);
%! args = random_problem (300, 40, 5);
%! bad = args;
%! bad{5} = bad{5}(1:end-1);
%! ## each call copies 24 KB of predictor state and the fit allocates more;
%! ## a call that kept any of it would add tens of megabytes over the run
%! many_calls (200, args, bad);
%! before = rss_kb ();
%! out = many_calls (1800, args, bad);
%! after = rss_kb ();
%! assert (numel (strfind (out, "sweep :")), 2 * 1800);
%! assert (after - before < 4096, "grew by %d KiB", after - before);

%!test  # refused calls in between change nothing for the next fit
%! [X, Y] = dovex_data ("iris");
%! args = {X, Y, zeros(150, 3), ones(150, 3), 3 * ones(150, 1), 0.5, 0.1, 0, 10};
%! c_rand ("seed", 4);
%! evalc ("W1 = dovex_fit (args{:});");
%! ## refused calls draw nothing and leave nothing behind
%! c_rand ("seed", 4);
%! for k = 1:5
%!   evalc ("try, dovex_fit (args{:}); catch, end");
%!   evalc ("try, W = dovex_fit (args{[1:4, 6:9]}); catch, end");
%!   evalc ("try, W = dovex_fit (args{1:8}, int8 (10)); catch, end");
%! endfor
%! evalc ("W2 = dovex_fit (args{:});");
%! assert (typecast (W1(:), "uint64"), typecast (W2(:), "uint64"));
