// SPDX-License-Identifier: GPL-2.0-or-later
// Installation with cmake --install: the places an administrator expects,
// DESTDIR staging, and a site's own files left alone.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "harness.h"
#include "quelvan.h"

namespace fs = std::filesystem;

namespace {

std::string install_sh(const std::string &cmd, int *status = nullptr)
{
    return harness_sh(cmd + " 2>&1", status);
}

// Installs this build under prefix, staged below destdir.
std::string install_into(const std::string &destdir, const std::string &prefix, int *status)
{
    const std::string build = fs::path(QUELVAN_BINARY).parent_path().string();
    const std::string env = destdir.empty() ? "env -u DESTDIR" : "DESTDIR='" + destdir + "'";
    return install_sh(env + " cmake --install '" + build + "' --prefix '" + prefix + "'", status);
}

// The configuration directory of this build, seen from the install prefix.
std::string config_dir_under(const std::string &root, const std::string &prefix)
{
    std::string dir = fs::path(hook_script_path).parent_path().string();
    return fs::path(dir).is_absolute() ? root + dir : root + prefix + "/" + dir;
}

TEST(Install, PutsBinaryManPageAndSamplesInTheirPlaces)
{
    const std::string dir = test_dir();
    const std::string root = dir + "/root", prefix = "/opt/quelvan";
    int status = -1;
    std::string log = install_into(root, prefix, &status);
    ASSERT_EQ(status, 0) << log;

    const std::string bin = root + prefix + "/bin/quelvan";
    ASSERT_TRUE(fs::exists(bin)) << log;
    EXPECT_EQ(install_sh("'" + bin + "' -V"), "Quelvan-" QUELVAN_VERSION "\n");

    std::string man = read_file(root + prefix + "/share/man/man1/quelvan.1");
    EXPECT_NE(man.find(".TH QUELVAN 1 \"2026\" \"quelvan " QUELVAN_VERSION "\""), std::string::npos);
    // The man page names the files where this build looks for them.
    EXPECT_NE(man.find(hook_script_path), std::string::npos);
    EXPECT_NE(man.find(status_file_path), std::string::npos);

    for (const char *f : {"quelvanrc", "quelvan.pl", "quelvan.help"}) {
        SCOPED_TRACE(f);
        const std::string sample = read_file(std::string(QUELVAN_SOURCE_DIR) + "/sample/etc/" + f);
        ASSERT_FALSE(sample.empty());
        EXPECT_EQ(read_file(root + prefix + "/share/quelvan/" + f), sample);
        EXPECT_EQ(read_file(config_dir_under(root, prefix) + "/" + f), sample);
    }
    EXPECT_TRUE(fs::exists(root + prefix + "/share/doc/quelvan/README.md"));
    EXPECT_EQ(read_file(root + prefix + "/share/doc/quelvan/COPYING"),
              read_file(std::string(QUELVAN_SOURCE_DIR) + "/COPYING"));
}

// A build that reads its files relative to the working directory (the
// tests' and the demo's) is only staged, never installed for real: put into
// a system directory it would take any directory it starts in as its
// configuration.
TEST(Install, TestBuildRefusesARealInstall)
{
    if (fs::path(hook_script_path).is_absolute())
        GTEST_SKIP() << "this build has absolute places: " << hook_script_path;
    const std::string dir = test_dir();
    int status = -1;
    std::string log = install_into("", dir + "/usr", &status);
    EXPECT_NE(status, 0) << log;
    EXPECT_NE(log.find("reads its files relative to the working directory"), std::string::npos)
        << log;
    EXPECT_FALSE(fs::exists(dir + "/usr/bin/quelvan"));
}

TEST(Install, NeverOverwritesTheSitesOwnFiles)
{
    const std::string dir = test_dir();
    const std::string root = dir + "/root", prefix = "/usr/local";
    const std::string conf = config_dir_under(root, prefix);
    write_file(conf + "/quelvan.pl", "# the site's own hook script\n");
    write_file(conf + "/quelvanrc", "default level = CRITICAL\n");
    int status = -1;
    std::string log = install_into(root, prefix, &status);
    ASSERT_EQ(status, 0) << log;
    EXPECT_EQ(read_file(conf + "/quelvan.pl"), "# the site's own hook script\n");
    EXPECT_EQ(read_file(conf + "/quelvanrc"), "default level = CRITICAL\n");
    // The missing one is added, and the samples are still there to compare.
    EXPECT_EQ(read_file(conf + "/quelvan.help"),
              read_file(std::string(QUELVAN_SOURCE_DIR) + "/sample/etc/quelvan.help"));
    EXPECT_EQ(read_file(root + prefix + "/share/quelvan/quelvan.pl"),
              read_file(std::string(QUELVAN_SOURCE_DIR) + "/sample/etc/quelvan.pl"));

    // A second install over the first changes nothing of the site's.
    log = install_into(root, prefix, &status);
    ASSERT_EQ(status, 0) << log;
    EXPECT_EQ(read_file(conf + "/quelvan.pl"), "# the site's own hook script\n");
}

}  // namespace
