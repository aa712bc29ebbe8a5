% zip_octave(folder, version): what an Octave user does with the unzipped
% MATLAB zip, for zip_test.sh. With only folder added to the path: make
% builds a module for every gateway there, each found before anything else;
% help dovex lists the functions with the version; then the tests shipped in
% the folder's .m files (their %! blocks) run, and all must pass. Ends
% Octave with status 0 only if every check and test passed.
function zip_octave(folder, version)
status = 1;
try
    addpath(folder);
    evalc('make');
    d = dir(fullfile(folder, 'src', 'mex', '*.cpp'));
    gateways = regexprep({d.name}, '\.cpp$', '');
    assert(numel(gateways) >= 1, 'no gateway sources in %s', folder);
    for k = 1:numel(gateways)
        assert(strcmp(which(gateways{k}), fullfile(folder, [gateways{k} '.mex'])), ...
               '%s is not the module make built: %s', gateways{k}, which(gateways{k}));
    end
    text = evalc('help dovex');
    assert(~isempty(strfind(text, ['Version ' version ' '])), 'help dovex: %s', text);
    for k = 1:numel(gateways)
        assert(~isempty(regexp(text, ['\n\s+' gateways{k} ' +- '], 'once')), ...
               'help dovex does not list %s:\n%s', gateways{k}, text);
    end

    files = dir(fullfile(folder, '*.m'));
    nfail = 0;
    ntests = 0;
    for k = 1:numel(files)
        source = fileread(fullfile(folder, files(k).name));
        if isempty(regexp(source, '^%!(test|assert|error|fail|warning)', 'once', 'lineanchors'))
            continue
        end
        [~, name] = fileparts(files(k).name);
        assert(strncmp(which(name), folder, numel(folder)), '%s is not the folder''s', name);
        t0 = tic();
        [npass, n] = test(fullfile(folder, files(k).name), 'quiet', stdout);
        printf('%-20s %3d of %3d passed, %5.1f s\n', name, npass, n, toc(t0));
        nfail = nfail + (n - npass);
        ntests = ntests + n;
    end
    assert(ntests > 0, 'no shipped tests ran');
    assert(nfail == 0, '%d shipped tests failed', nfail);
    status = 0;
catch err
    printf('zip_octave: %s\n', err.message);
end
exit(status);
end
