% run_suite(file) runs the %!test and %!error blocks of one Octave test file
% in batch mode, prints every failure and a closing count, and ends Octave
% with a non-zero status unless at least one test ran and all of them passed.
function run_suite(file)
[npass, ntotal] = test(file, 'quiet', stdout);
[~, name] = fileparts(file);
printf('%s: %d passed, %d failed\n', name, npass, ntotal - npass);
exit(double(ntotal == 0 || npass < ntotal));
end
