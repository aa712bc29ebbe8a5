function [W, info] = run_fit(header, args)
%RUN_FIT  Call dovex_solve(args{:}) with its progress lines shown.
%   The line header is printed first and the progress lines appear as the
%   fit prints them, caught by a diary of their own. When the header does
%   not reach that diary (the call runs inside evalc, which takes the
%   output first), the lines are captured instead and printed once the fit
%   is done, so that the outer capture gets them all the same. A diary the
%   user keeps is switched back on afterwards, with the lines added to it.

[user_on, user_file] = diary_state();
log_file = [tempname() '.txt'];
restore = onCleanup(@() end_diary(log_file, user_on, user_file)); %#ok<NASGU>
diary(log_file);
fprintf('%s\n', header);
diary('off');
live = ~isempty(fileread(log_file));
if live
    diary(log_file);
    [W, info] = dovex_solve(args{:});
    diary('off');
    text = fileread(log_file);
    if user_on
        append_to(user_file, text);
    end
else
    text = evalc('[W, info] = dovex_solve(args{:});');
    fprintf('%s', text);
end
end

function [on, file] = diary_state()
if exist('OCTAVE_VERSION', 'builtin')
    [on, file] = diary();
else
    on = strcmp(get(0, 'Diary'), 'on');
    file = get(0, 'DiaryFile');
end
end

function end_diary(log_file, user_on, user_file)
diary('off');
if exist(log_file, 'file')
    delete(log_file);
end
if user_on
    diary(user_file);
end
end

function append_to(file, text)
f = fopen(file, 'a');
if f >= 0
    fwrite(f, text);
    fclose(f);
end
end
