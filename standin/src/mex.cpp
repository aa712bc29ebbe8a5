// libmex of the stand-in host: the call itself, errors, printed text and
// evaluated commands.
//
// Errors end the call with longjmp back into standin_call. Both the setjmp
// and the longjmp sit in this library, so they always pair up with the same
// runtime's implementation, also when the module and the loader are
// separate DLLs; C++ exceptions could not cross such a boundary.
#include "mex.h"
#include "standin.h"

#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct call_context {
    bool active = false;
    std::jmp_buf env;
    char id[sizeof(standin_outcome::id)];
    char message[sizeof(standin_outcome::message)];
};

struct mex_state {
    call_context call;
    std::string out;
    std::vector<std::string> evals;
    bool echo = false;
};

mex_state &state()
{
    static mex_state s;
    return s;
}

void copy_text(char *dst, std::size_t size, const char *src)
{
    std::snprintf(dst, size, "%s", src ? src : "");
}

// Ends the running call. Only plain C data lives in the frames between
// here and standin_call, so nothing is skipped by the jump.
[[noreturn]] void leave_call()
{
    call_context &c = state().call;
    if (!c.active) {
        std::fprintf(stderr, "stand-in host: error outside a call: %s\n", c.message);
        std::abort();
    }
    std::longjmp(c.env, 1);
}

[[noreturn]] void raise_error(const char *id, const char *message)
{
    copy_text(state().call.id, sizeof state().call.id, id);
    copy_text(state().call.message, sizeof state().call.message, message);
    leave_call();
}

} // namespace

extern "C" {

int mexPrintf(const char *format, ...)
{
    va_list ap, again;
    va_start(ap, format);
    va_copy(again, ap);
    const int n = std::vsnprintf(nullptr, 0, format, ap);
    va_end(ap);
    if (n > 0) {
        std::vector<char> buf(static_cast<std::size_t>(n) + 1);
        std::vsnprintf(buf.data(), buf.size(), format, again);
        state().out.append(buf.data(), static_cast<std::size_t>(n));
        if (state().echo)
            std::fputs(buf.data(), stdout);
    }
    va_end(again);
    return n;
}

int mexEvalString(const char *command)
{
    state().evals.emplace_back(command ? command : "");
    if (state().echo && command && std::strcmp(command, "drawnow") == 0)
        std::fflush(stdout);
    return 0;
}

void mexErrMsgTxt(const char *message)
{
    raise_error("", message);
}

void mexErrMsgIdAndTxt(const char *id, const char *format, ...)
{
    call_context &c = state().call;
    copy_text(c.id, sizeof c.id, id);
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(c.message, sizeof c.message, format, ap);
    va_end(ap);
    leave_call();
}

int standin_call(mex_function_t fn, int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[],
                 standin_outcome *out)
{
    mex_state &s = state();
    if (s.call.active) {
        std::fprintf(stderr, "stand-in host: calls do not nest\n");
        std::abort();
    }
    const int nslots = nlhs > 1 ? nlhs : 1;
    for (int i = 0; i < nslots; i++)
        plhs[i] = nullptr;
    standin_clear_output();
    s.call.id[0] = s.call.message[0] = '\0';
    standin_mx_begin(raise_error);

    s.call.active = true;
    int failed = 0;
    if (setjmp(s.call.env) == 0)
        fn(nlhs, plhs, nrhs, prhs);
    else
        failed = 1;
    s.call.active = false;

    standin_mx_report r;
    standin_mx_end(failed, plhs, nslots, &r);
    standin_outcome o{};
    o.failed = failed;
    copy_text(o.id, sizeof o.id, failed ? s.call.id : "");
    copy_text(o.message, sizeof o.message, failed ? s.call.message : "");
    o.callocs = r.callocs;
    o.left_blocks = r.left_blocks;
    o.left_bytes = r.left_bytes;
    o.arrays_created = r.arrays_created;
    o.arrays_left = r.arrays_left;
    o.bad_frees = r.bad_frees;
    if (out)
        *out = o;
    return failed;
}

const char *standin_output(void)
{
    return state().out.c_str();
}

std::size_t standin_eval_count(void)
{
    return state().evals.size();
}

const char *standin_eval(std::size_t i)
{
    return i < state().evals.size() ? state().evals[i].c_str() : nullptr;
}

void standin_clear_output(void)
{
    state().out.clear();
    state().evals.clear();
}

void standin_echo(int on)
{
    state().echo = on != 0;
}
}
