## The README's main job, with a short grid: the demo runs to its end, its
## numbers are those of a working fit, and the picture it writes is a real
## PNG with something drawn in it.

%!test
%! folder = tempname ();
%! mkdir (folder);
%! back = cd (folder);
%! unwind_protect
%!   demo_penalties = 3;
%!   out = evalc ("demo_digits");
%!   png = fullfile (folder, "dovex_digits.png");
%!   f = fopen (png, "r");
%!   head = fread (f, 24, "uint8")';
%!   fclose (f);
%!   img = imread (png);
%! unwind_protect_cleanup
%!   cd (back);
%!   confirm_recursive_rmdir (false, "local");
%!   rmdir (folder, "s");
%! end_unwind_protect
%! printf ("%s", out);
%! ## the grid's table: three penalties, the first of which zeroes everything
%! table = regexp (out, '^\s*([0-9.e+-]+)\s+([0-9.]+) \+- ([0-9.]+)\s+([0-9.]+)\s+([0-9.]+)', "tokens", "lineanchors");
%! assert (numel (table), 3);
%! t = cellfun (@str2double, vertcat (table{:}));
%! ## no feature: the null model, the training folds' class frequencies,
%! ## a little better than uniform probabilities on these nearly balanced classes
%! assert (t(1,2) < log (10) && t(1,2) > log (10) - 0.01);
%! assert (t(1,5), 0);
%! assert (issorted (flipud (t(:,2))));       # the loss falls with the penalty here
%! assert (all (t(2:end,4) > 0.85));
%! chosen = str2double (regexp (out, 'chosen lambda1: (\S+)', "tokens", "once"){1});
%! assert (min (abs (chosen - t(:,1)) ./ t(:,1)) < 1e-3);
%! accuracy = str2double (regexp (out, 'held-out accuracy: (\S+) \((\d+) of 359\)', "tokens", "once"));
%! assert (accuracy(1) > 0.93 && accuracy(1) <= 1);
%! assert (round (accuracy(1) * 359), accuracy(2));
%! share = str2double (regexp (out, 'non-zero weights: (\S+) \(', "tokens", "once"){1});
%! assert (share > 0.1 && share < 0.9);
%! assert (! isempty (strfind (out, ["wrote " png])));
%! assert (! isempty (regexp (out, 'time: [0-9.]+ s')));
%! ## a PNG file: its signature, then the header chunk with its size
%! assert (head(1:8), [137 80 78 71 13 10 26 10]);
%! assert (char (head(13:16)), "IHDR");
%! width = head(17:20) * 256 .^ (3:-1:0)';
%! height = head(21:24) * 256 .^ (3:-1:0)';
%! assert ([width, height], [1100, 1000]);
%! assert (size (img)(1:2), [height, width]);
%! ## not blank: many colours, a good part of the picture not white, and
%! ## both ends of the diverging scale present
%! px = reshape (double (img), [], size (img, 3));
%! assert (rows (unique (px, "rows")) > 50);
%! assert (mean (any (px < 250, 2)) > 0.05);
%! assert (any (px(:,3) > px(:,1) + 60) && any (px(:,1) > px(:,3) + 60));
