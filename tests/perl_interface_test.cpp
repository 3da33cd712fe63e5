// SPDX-License-Identifier: GPL-2.0-or-later
// The calls into Perl use only its embedding interface (perlembed, perlcall,
// perlapi). The interpreter's internals, its eval scopes, jump environments,
// context stack and ops, change from release to release: Perl 5.40 hid the
// eval-scope functions, and a build that used them no longer linked.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "harness.h"

namespace {

// Names of the interpreter's internals, each as a whole word, with or
// without the Perl_ of the functions' full names.
const std::regex internal_names(
    R"(\b(?:Perl_)?(create_eval_scope|delete_eval_scope|JMPENV_\w+|dJMPENV|PL_top_env|PL_in_eval|)"
    R"(EVAL_KEEPERR|G_FAKINGEVAL|PL_op|PL_restartop|OPf_\w+|op_flags|OP|my_exit|)"
    R"(my_exit_jump|cxstack\w*|dounwind|CATCH_SET|PL_curstackinfo)\b)");

// Every line of the files under dir that names one of them, as "file:line: text".
std::vector<std::string> internals_used(const std::filesystem::path &dir)
{
    std::vector<std::string> found;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(dir)) {
        const std::string ext = entry.path().extension().string();
        if (!entry.is_regular_file() || (ext != ".cpp" && ext != ".h"))
            continue;
        const std::string text = read_file(entry.path().string());
        size_t start = 0;
        for (int line = 1; start < text.size(); line++) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos)
                end = text.size();
            const std::string l = text.substr(start, end - start);
            if (std::regex_search(l, internal_names))
                found.push_back(entry.path().string() + ":" + std::to_string(line) + ": " + l);
            start = end + 1;
        }
    }
    return found;
}

TEST(PerlInterface, SourcesUseOnlyTheEmbeddingInterface)
{
    const std::vector<std::string> found =
        internals_used(std::string(QUELVAN_SOURCE_DIR) + "/src");
    std::string report;
    for (const std::string &f : found)
        report += f + "\n";
    EXPECT_TRUE(found.empty()) << report;
}

// The check finds the internals in lines like those of the earlier calls,
// and leaves the interface alone.
TEST(PerlInterface, CheckFindsTheInternals)
{
    const std::string dir = test_dir();
    write_file(dir + "/perl/old.cpp",
               "    Perl_create_eval_scope(aTHX_ nullptr, G_KEEPERR | G_FAKINGEVAL);\n"
               "    PL_in_eval &= ~EVAL_KEEPERR;\n"
               "    JMPENV_PUSH(ret);\n"
               "    if (cxstack_ix > old_cxix)\n"
               "        Perl_delete_eval_scope(aTHX);\n"
               "    my_exit(STATUS_EXIT);\n"
               "OP hook_scalar_op;\n"
               "    PL_op = &hook_scalar_op;\n");
    write_file(dir + "/perl/new.h",
               "    int count = call_sv(cv, G_EVAL | G_VOID);\n"
               "    if (SvTRUE(ERRSV)) croak_sv(ERRSV);\n"
               "    PL_opfreehook = nullptr; SV *op_sv; // OPERATOR\n");
    const std::vector<std::string> found = internals_used(dir);
    std::string report;
    for (const std::string &f : found)
        report += f + "\n";
    EXPECT_EQ(found.size(), 8u) << report;
    EXPECT_EQ(report.find("new.h"), std::string::npos) << report;
}

}  // namespace
