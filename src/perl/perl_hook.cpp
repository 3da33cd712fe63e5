// SPDX-License-Identifier: GPL-2.0-or-later
// The embedded Perl interpreter and the calls into the site's hook script.
//
// One interpreter runs the script for the whole run. Every call into it goes
// through hook_call, so nothing else enters the interpreter; the refresh timer
// cannot cut into a call because SIGALRM is blocked everywhere but in the key
// loop's wait (timer/timer.cpp), and hook_call asserts that calls never nest.
//
// A call runs inside call_sv's eval: an exception from the script (a die, a
// sub the script does not define, a result whose stringification dies) ends
// the program with the eval-error message like a true $@ does, instead of
// leaving Perl to end the process with the terminal still in curses mode.
// That eval clears $@ when it starts and when it ends normally, yet the
// script must see $@ as it left it, and a true $@ after a hook is an error.
// So the eval runs a small XSUB of ours, hook_runner, which puts the script's
// $@ back, calls the sub without an eval of its own (a die unwinds to the
// outer one) and reads $@ right after the sub returned, before the eval's
// end clears it. Only the interface of perlembed, perlcall and perlapi is
// used: nothing here depends on how a release builds its eval scopes.
#include <cassert>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include <fcntl.h>

#include "perl/perl_hook.h"
#include "quelvan.h"

// Every Perl macro uses my_perl below instead of looking the interpreter up
// in thread-local storage on each use.
#define PERL_NO_GET_CONTEXT
#include <EXTERN.h>
#include <perl.h>
#include <XSUB.h>

extern "C" void boot_DynaLoader(pTHX_ CV *cv);

namespace {

PerlInterpreter *my_perl = nullptr;  // the name Perl's macros expect

// The subs of the script, in the order of the hook kinds.
constexpr int HOOK_REGEX = 2;
const char *const hook_names[] = {"host_plugin_hook", "service_plugin_hook", "regex_hook"};
constexpr int NUM_HOOKS = 3;

// Each sub's glob, fetched at its first call and held from then on. Calling
// through the glob finds a redefined sub, and a missing one dies as a call by
// name does; a glob that the script deleted from its package (and keeps no
// reference to) is fetched anew.
GV *hook_globs[NUM_HOOKS];

// The argument scalars, reused from call to call while the script keeps none.
constexpr int MAX_ARGS = 4;
SV *call_args[MAX_ARGS];

// The call under way, shared by hook_call and the runner.
struct hook_request {
    int hook;
    int nargs;
    SV *args[MAX_ARGS];
    char *text;                // text hooks: the caller's buffer
    size_t text_len;           // its length before the call
    int answer;                // regex hook: the low 32 bits of the result
    void (*body)();            // what hook_runner runs
    bool finished;             // the body got to its end
    bool errsv_true;           // the script left $@ true ...
    std::string error;         // ... with this text (or the exception's text)
};
hook_request request;

bool in_call = false;

// The script's $@ between calls: a false value (a true one ends the program).
// Mostly it is the plain empty string the eval leaves in $@ anyway, and
// then nothing needs copying in or out.
SV *errsv_kept;
bool errsv_kept_empty;

bool errsv_is_plain_empty(SV *sv)
{
    return SvPOK(sv) && SvCUR(sv) == 0 && !SvIOKp(sv) && !SvNOKp(sv) && !SvROK(sv) &&
           !SvUTF8(sv) && !SvMAGICAL(sv) && !SvREADONLY(sv) && !SvOBJECT(sv);
}

// hook_runner, made an anonymous XSUB when the interpreter starts: the
// script has no name to call it, redefine it or undefine it by.
CV *hook_runner_cv;

// An argument scalar to fill for the next call. One that the script kept (a
// reference or an alias stored away), marked read-only, blessed or gave
// magic to stays the script's, and the call gets a new one instead.
SV *hook_arg(int i)
{
    SV *&sv = call_args[i];
    if (sv && (SvREFCNT(sv) != 1 || SvMAGICAL(sv) || SvREADONLY(sv) || SvOBJECT(sv) ||
               SvTYPE(sv) > SVt_PVMG)) {
        SvREFCNT_dec(sv);
        sv = nullptr;
    }
    if (!sv)
        sv = newSV(0);
    return sv;
}

SV *hook_string_arg(int i, const char *s, size_t len)
{
    SV *sv = hook_arg(i);
    sv_setpvn(sv, s, len);
    SvUTF8_off(sv);  // the bytes as read, like a new string scalar
    return sv;
}

SV *hook_int_arg(int i, IV value)
{
    SV *sv = hook_arg(i);
    sv_setiv(sv, value);
    return sv;
}

GV *hook_glob(int hook)
{
    GV *&gv = hook_globs[hook];
    if (gv && SvREFCNT(gv) == 1) {  // only we still hold it: gone from the package
        SvREFCNT_dec(gv);
        gv = nullptr;
    }
    if (!gv)
        gv = reinterpret_cast<GV *>(
            SvREFCNT_inc_simple_NN(gv_fetchpv(hook_names[hook], GV_ADD, SVt_PVCV)));
    return gv;
}

// The text becomes the result, cut to the length the text had: a shorter
// result is followed by zero bytes up to that length.
void hook_take_text(SV *result)
{
    STRLEN len = 0;
    const char *s = "";
    SvGETMAGIC(result);
    if (SvOK(result))
        s = SvPV_nomg(result, len);
    size_t n = request.text_len;
    size_t m = len < n ? len : n;
    if (const void *nul = memchr(s, '\0', m))
        m = static_cast<size_t>(static_cast<const char *>(nul) - s);
    memcpy(request.text, s, m);
    memset(request.text + m, 0, n - m);
}

// One call of a sub in scalar context, its result taken, its temporaries
// freed, then $@ examined as the script left it. Runs inside the eval.
void hook_call_body()
{
    if (!errsv_kept_empty)
        sv_setsv(ERRSV, errsv_kept);  // the eval emptied it on entry
    dSP;
    ENTER;
    SAVETMPS;
    PUSHMARK(SP);
    EXTEND(SP, request.nargs);
    for (int i = 0; i < request.nargs; i++)
        PUSHs(request.args[i]);
    PUTBACK;
    int count = call_sv(reinterpret_cast<SV *>(hook_glob(request.hook)), G_SCALAR);
    SPAGAIN;
    SV *result = count > 0 ? POPs : &PL_sv_undef;
    if (request.hook == HOOK_REGEX)
        request.answer = static_cast<int>(static_cast<uint32_t>(SvIV(result)));
    else
        hook_take_text(result);
    PUTBACK;
    FREETMPS;
    LEAVE;

    SV *err = ERRSV;  // fetched anew: the script may have replaced the glob's scalar
    if (SvTRUE(err)) {
        STRLEN len;
        const char *s = SvPV(err, len);
        request.error.assign(s, len);
        request.errsv_true = true;
    } else if (errsv_is_plain_empty(err)) {
        errsv_kept_empty = true;
    } else {
        sv_setsv(errsv_kept, err);
        errsv_kept_empty = false;
    }
}

// The text of a caught exception (its stringification may run script code).
void hook_error_text_body()
{
    STRLEN len;
    const char *s = SvPV(request.args[0], len);
    request.error.assign(s, len);
}

// The XSUB that call_sv runs inside its eval: it runs request.body, and marks
// the request finished when the body got to its end. An exception skips the
// rest, so nothing here may need a destructor.
void hook_runner(pTHX_ CV *)
{
    dXSARGS;
    PERL_UNUSED_VAR(items);
    request.body();
    request.finished = true;
    XSRETURN_EMPTY;
}

// Runs body inside call_sv's eval; true when it got to its end. An exception
// lands in $@. An exit from the script unwinds through the eval and ends
// the process with the script's status (the exit handlers restore the
// terminal).
bool hook_run_protected(void (*body)())
{
    request.body = body;
    request.finished = false;
    dSP;
    ENTER;
    SAVETMPS;
    PUSHMARK(SP);
    PUTBACK;
    int count = call_sv(reinterpret_cast<SV *>(hook_runner_cv), G_EVAL | G_VOID);
    SPAGAIN;
    SP -= count;
    PUTBACK;
    FREETMPS;
    LEAVE;
    return request.finished;
}

// The call described by request.hook and request.args.
void hook_call()
{
    // Calls never nest: a hook cannot call back into the program, and the
    // refresh timer only runs in the key loop's wait.
    assert(!in_call);
    in_call = true;

    request.errsv_true = false;
    if (!hook_run_protected(hook_call_body)) {
        // The exception is in $@. Its text may need the script's own code
        // (an object with overloading), so that runs protected too; when
        // that dies, the new exception is shown instead. The copy is taken
        // first because the eval clears $@ on entry.
        request.error = "an exception that cannot be shown as text";
        ENTER;
        SAVETMPS;
        for (int tries = 0; tries < 3; tries++) {
            request.args[0] = sv_2mortal(newSVsv(ERRSV));
            if (hook_run_protected(hook_error_text_body))
                break;
        }
        FREETMPS;
        LEAVE;
        in_call = false;
        fatal_perl("fatal error: perl eval error: %s\r\n", request.error.c_str());
    }
    if (request.errsv_true) {
        in_call = false;
        fatal_perl("fatal error: perl eval error: %s\r\n", request.error.c_str());
    }
    // The eval's normal end emptied $@: the script's own value goes back.
    if (!errsv_kept_empty)
        sv_setsv(ERRSV, errsv_kept);
    in_call = false;
}

// Lets the script load modules with a compiled part (POSIX, Socket, ...).
void xs_init(pTHX)
{
    newXS("DynaLoader::boot_DynaLoader", boot_DynaLoader, __FILE__);
}

// perl_parse keeps the argument vector (assigning $0 writes into it), so it
// lives as long as the process.
char perl_arg0[] = "";
std::string perl_script;
char *perl_argv[3];

// The script is opened once and checked as a regular file on that open
// file; the interpreter reads the same file, never the path again (a file
// put there in between would be read unchecked). Perl takes a script name
// "/dev/fd/N/NAME" as descriptor N, and names the script NAME in its
// messages, __FILE__ and $0, as it would the path. It gets a descriptor of
// its own (closed on exec), which it closes when it is done reading.
std::string perl_open_script()
{
    FILE *script = file_open_regular(hook_script_path);
    int fd = fcntl(fileno(script), F_DUPFD_CLOEXEC, 0);
    fclose(script);
    if (fd < 0)
        fatal_perl("fatal error: perl compile of %s failed\r\n", hook_script_path);
    return "/dev/fd/" + std::to_string(fd) + "/" + hook_script_path;
}

// The console's own handlers of the crash signals restore the terminal
// (frame/shutdown.cpp) and are installed once the script's main program has
// run. Perl sets a process-wide handler when the script assigns to
// $SIG{SEGV}; from then on the crash signals' elements of %SIG are read-only,
// so a hook that assigns (or localises) one ends the console with the
// eval-error message instead of replacing the console's handler.
void perl_keep_crash_signals()
{
    HV *sig = get_hv("SIG", GV_ADD);
    for (const char *name : {"SEGV", "BUS", "ILL", "ABRT"}) {
        SV **element = hv_fetch(sig, name, static_cast<I32>(strlen(name)), 1);
        if (element && *element)
            SvREADONLY_on(*element);
    }
}

}  // namespace

void perl_hook_init()
{
    perl_script = perl_open_script();

    static bool perl_sys_ready = false;
    if (!perl_sys_ready) {
        int argc = 1;
        char *args[] = {perl_arg0, nullptr};
        char **argv = args;
        char *no_env[] = {nullptr};
        char **env = no_env;
        PERL_SYS_INIT3(&argc, &argv, &env);
        perl_sys_ready = true;
    }

    my_perl = perl_alloc();
    perl_construct(my_perl);
    perl_argv[0] = perl_arg0;
    perl_argv[1] = perl_script.data();
    perl_argv[2] = nullptr;
    if (perl_parse(my_perl, xs_init, 2, perl_argv, nullptr) != 0)
        fatal_perl("fatal error: perl compile of %s failed\r\n", hook_script_path);
    if (perl_run(my_perl) > 0)
        fatal_perl("fatal error: perl compile of %s failed\r\n", hook_script_path);

    perl_keep_crash_signals();
    hook_runner_cv = newXS_flags(nullptr, hook_runner, __FILE__, nullptr, 0);
    errsv_kept = newSVsv(ERRSV);  // the main program's $@, seen by the test call
    errsv_kept_empty = false;

    char text[TEXT_SIZE];
    text_copy(text, "testing perl hook eval");
    perl_hook(HOOK_HOST, text);
}

void perl_hook(int kind, char *text)
{
    if (!my_perl || !text)
        return;  // no interpreter: texts stay as read
    request.hook = kind == HOOK_SERVICE ? HOOK_SERVICE : HOOK_HOST;
    request.nargs = 1;
    request.text = text;
    request.text_len = strlen(text);
    request.args[0] = hook_string_arg(0, text, request.text_len);
    hook_call();
}

int perl_regex_hook(const char *text, const char *pattern, int mode)
{
    if (!my_perl)
        return 0;  // no interpreter: the filter shows everything
    request.hook = HOOK_REGEX;
    request.nargs = 4;
    if (!text)
        text = "";
    if (!pattern)
        pattern = "";
    request.args[0] = hook_string_arg(0, text, strlen(text));
    request.args[1] = hook_string_arg(1, pattern, strlen(pattern));
    request.args[2] = hook_int_arg(2, mode);
    request.args[3] = hook_int_arg(3, 0);
    request.text = nullptr;
    hook_call();
    return request.answer;
}

void perl_hook_free()
{
    if (!my_perl)
        return;
    for (SV *&sv : call_args) {
        SvREFCNT_dec(sv);
        sv = nullptr;
    }
    for (GV *&gv : hook_globs) {
        SvREFCNT_dec(gv);
        gv = nullptr;
    }
    SvREFCNT_dec(errsv_kept);
    errsv_kept = nullptr;
    SvREFCNT_dec(hook_runner_cv);
    hook_runner_cv = nullptr;
    PL_perl_destruct_level = 0;
    perl_destruct(my_perl);
    perl_free(my_perl);
    my_perl = nullptr;
}
