// SPDX-License-Identifier: GPL-2.0-or-later
// scripts/install-deps run from an ordinary account, as a newcomer without
// root meets it: nothing to do when everything is there, and a clear word
// (which packages, how to install them) with status 3 when something is
// missing and the account cannot become root, before any password prompt.
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include <gtest/gtest.h>
#include <unistd.h>

#include "harness.h"

namespace {

// Under CI the machine runs as root and can always become nobody: a skip
// there would leave the ordinary account untried.
bool unprivileged_required()
{
    const char *ci = getenv("CI");
    return ci && strcmp(ci, "true") == 0;
}

// How to run a command as an ordinary account: as root, nobody (setpriv
// drops every group); otherwise this account itself, unless it may use sudo
// without a password (it would install for real): then none.
std::optional<std::string> unprivileged_prefix()
{
    if (geteuid() == 0)
        return "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    int status = -1;
    harness_sh("sudo -n true >/dev/null 2>&1", &status);
    if (status == 0)
        return std::nullopt;
    return "";
}

// install-deps PURPOSE as the ordinary account, with no terminal (as under
// CI); standard error and output together.
std::string install_deps_run(const std::string &purpose, const std::string &extra, int *status)
{
    const std::string script = std::string(QUELVAN_SOURCE_DIR) + "/scripts/install-deps";
    return harness_sh(unprivileged_prefix().value_or("") + "env QUELVAN_EXTRA_PACKAGES=" +
                          harness_quote(extra) + " " + harness_quote(script) + " " + purpose +
                          " </dev/null 2>&1",
                      status);
}

#define UNPRIVILEGED_SKIP_UNLESS_POSSIBLE()                                         \
    do {                                                                            \
        if (!unprivileged_prefix()) {                                               \
            if (unprivileged_required())                                            \
                FAIL() << "CI=true and no ordinary account to run install-deps as"; \
            GTEST_SKIP() << "this account may use sudo without a password: "        \
                            "it is no ordinary account";                            \
        }                                                                           \
    } while (0)

// Everything the demo needs is installed (the build of these tests needed
// it): the ordinary account needs nothing, not even sudo.
TEST(InstallDeps, NothingMissingNeedsNothing)
{
    UNPRIVILEGED_SKIP_UNLESS_POSSIBLE();
    int status = -1;
    EXPECT_EQ(install_deps_run("demo", "", &status), "");
    EXPECT_EQ(status, 0);
}

// A package that is not there (a name that no release has): it is named,
// with the command that installs it as root, before any password is asked
// for; nothing else runs. The same for a purpose's own packages.
TEST(InstallDeps, MissingPackageIsNamedWithHowToInstallIt)
{
    UNPRIVILEGED_SKIP_UNLESS_POSSIBLE();
    for (const char *purpose : {"demo", "test"}) {
        SCOPED_TRACE(purpose);
        int status = -1;
        const std::string out =
            install_deps_run(purpose, "quelvan-no-such-package", &status);
        EXPECT_EQ(status, 3) << out;
        EXPECT_EQ(out.rfind("install-deps: missing packages: quelvan-no-such-package\n"
                            "install-deps: installing them needs root, and ",
                            0),
                  0u)
            << out;
        EXPECT_NE(out.find("install them as root:\n"
                           "  apt-get install --no-install-recommends quelvan-no-such-package\n"
                           "or run "),
                  std::string::npos)
            << out;
        EXPECT_NE(out.find("/scripts/install-deps " + std::string(purpose) +
                           " again from an account that may use sudo\n"),
                  std::string::npos)
            << out;
        for (const char *never : {"password for", "command not found", "installing:"})
            EXPECT_EQ(out.find(never), std::string::npos) << never << "\n" << out;
    }
}

}  // namespace
