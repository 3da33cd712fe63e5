// SPDX-License-Identifier: GPL-2.0-or-later
// The least a call into the hook script can cost by the documented protocol:
// the sub called through a glob fetched once with call_sv, G_EVAL and
// G_SCALAR, the argument scalars reused, $@ looked at once after the call.
// The console's own calls are measured against this floor.
#ifndef BENCH_BENCH_FLOOR_H
#define BENCH_BENCH_FLOOR_H

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <EXTERN.h>
#include <perl.h>

namespace bench_floor {

struct floor_state {
    GV *globs[3] = {};
    SV *args[4] = {};
};

inline floor_state &state()
{
    static floor_state s;
    if (!s.args[0]) {
        dTHX;
        const char *names[] = {"host_plugin_hook", "service_plugin_hook", "regex_hook"};
        for (int i = 0; i < 3; i++)
            s.globs[i] = gv_fetchpv(names[i], GV_ADD, SVt_PVCV);
        for (SV *&a : s.args)
            a = newSV(0);
    }
    return s;
}

// kind 0 or 1: a text hook; the result is copied back as the console does.
inline void text(int kind, char *buf)
{
    dTHX;
    floor_state &s = state();
    dSP;
    ENTER;
    SAVETMPS;
    PUSHMARK(SP);
    size_t n = strlen(buf);
    sv_setpvn(s.args[0], buf, n);
    XPUSHs(s.args[0]);
    PUTBACK;
    int count = call_sv(reinterpret_cast<SV *>(s.globs[kind]), G_EVAL | G_SCALAR);
    SPAGAIN;
    if (SvTRUE(ERRSV))
        abort();
    SV *r = count ? POPs : &PL_sv_undef;
    STRLEN len;
    const char *p = SvPV(r, len);
    memcpy(buf, p, len < n ? len : n);
    PUTBACK;
    FREETMPS;
    LEAVE;
}

inline int regex(const char *text, const char *pattern, int mode)
{
    dTHX;
    floor_state &s = state();
    dSP;
    ENTER;
    SAVETMPS;
    PUSHMARK(SP);
    sv_setpv(s.args[0], text);
    sv_setpv(s.args[1], pattern);
    sv_setiv(s.args[2], mode);
    sv_setiv(s.args[3], 0);
    EXTEND(SP, 4);
    for (SV *a : s.args)
        PUSHs(a);
    PUTBACK;
    int count = call_sv(reinterpret_cast<SV *>(s.globs[2]), G_EVAL | G_SCALAR);
    SPAGAIN;
    if (SvTRUE(ERRSV))
        abort();
    SV *r = count ? POPs : &PL_sv_undef;
    IV v = SvIV(r);
    PUTBACK;
    FREETMPS;
    LEAVE;
    return static_cast<int>(static_cast<uint32_t>(v));
}

}  // namespace bench_floor

#endif
