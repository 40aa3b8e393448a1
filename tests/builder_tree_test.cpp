// Tests of the package builder's name rules: globs, the policy file, entry names the
// applicator or Windows would refuse, and the stored form of the description.

#include <gtest/gtest.h>

#include "builder/builder.h"
#include "builder/policy.h"
#include "builder/tree.h"

TEST(BuilderTree, GlobPatterns) {
    struct Case {
        const char* pattern;
        const char* name;
        bool match;
    } cases[] = {
        {"*.bak", "a.bak", true},
        {"*.bak", "Sub\\Deeper\\A.BAK", true},  // no separator: the name in any folder
        {"*.bak", "a.bak\\x.txt", false},
        {"Saves\\*", "saves\\slot1.sav", true},
        {"Saves/*", "Saves\\Deep\\slot1.sav", false},  // "*" stays within one name
        {"Saves\\**", "Saves\\Deep\\slot1.sav", true},
        {"**\\*.log", "x.log", true},  // "**\" may match no folder at all
        {"**\\*.log", "a\\b\\x.log", true},
        {"\\System\\*.ini", "System\\Game.ini", true},
        {"Sys?em\\*.ini", "System\\Game.ini", true},
        {"?", "\\", false},
        {"Maps\\*.lvl", "Maps\\Level01.lvl", true},
        {"Maps\\*.lvl", "Other\\Maps\\Level01.lvl", false},
        {"*", "anything.at.all", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Glob(c.pattern).Matches(c.name), c.match) << c.pattern << " against " << c.name;
}

TEST(BuilderTree, PolicyFile) {
    std::vector<PolicyRule> rules;
    std::vector<std::string> errors;
    const std::string text =
        "# overrides\r\n"
        "\n"
        "*            0 0\n"
        "Maps\\*.lvl   1 2   Level data\n"
        "\"My Docs\\*\"  3 1  Spaced folder  \n";
    ASSERT_TRUE(ParsePolicies(text, "p.txt", &rules, &errors)) << errors.front();
    ASSERT_EQ(rules.size(), 3u);
    const EntryPolicy defaults{1, 1, ""};
    EntryPolicy p = PolicyFor(rules, "Maps\\Level01.lvl", defaults);
    EXPECT_EQ(p.warning_policy, 1);
    EXPECT_EQ(p.error_policy, 2);
    EXPECT_EQ(p.description, "Level data");
    p = PolicyFor(rules, "my docs\\read me.txt", defaults);  // the last matching line wins
    EXPECT_EQ(p.warning_policy, 3);
    EXPECT_EQ(p.description, "Spaced folder");
    p = PolicyFor(rules, "System\\Game.ini", defaults);
    EXPECT_EQ(p.warning_policy, 0);
    EXPECT_EQ(p.error_policy, 0);
    EXPECT_EQ(PolicyFor({}, "x", defaults).error_policy, 1);

    errors.clear();
    rules.clear();
    const std::string bad =
        "*.dat 1\n"
        "*.dat 4 0\n"
        "\"open 1 1\n"
        "*.dat 1 1 " + std::string(80, 'd') + "\n"
        "*.dat 1 1 " + std::string(79, 'd') + "\n";
    EXPECT_FALSE(ParsePolicies(bad, "p.txt", &rules, &errors));
    ASSERT_EQ(errors.size(), 4u);
    EXPECT_EQ(errors[0].rfind("p.txt:1: ", 0), 0u) << errors[0];
    EXPECT_EQ(errors[1].rfind("p.txt:2: ", 0), 0u) << errors[1];
    EXPECT_EQ(errors[2].rfind("p.txt:3: ", 0), 0u) << errors[2];
    EXPECT_NE(errors[3].find("79"), std::string::npos) << errors[3];
    EXPECT_EQ(rules.size(), 1u);  // the good line is still taken
}

TEST(BuilderTree, EntryNames) {
    EXPECT_EQ(PackageNameProblem("Maps\\Level01.lvl"), "");
    EXPECT_EQ(PackageNameProblem(std::string(249, 'n')), "");
    EXPECT_NE(PackageNameProblem(std::string(250, 'n')).find("249"), std::string::npos);
    for (const char* bad : {"", "\\abs.txt", "C:x.txt", "a\\..\\b.txt", "__QXUPD_\\N00001.TMP", "a?b", "a*b",
                            "a\"b", "a|b", "a<b", "tab\there", "dot.", "space ", "a\\\\b", "CON", "con.txt",
                            "Sub\\LPT1.dat", "nul"}) {
        EXPECT_NE(PackageNameProblem(bad), "") << bad;
    }
    EXPECT_EQ(PackageNameProblem("CONSOLE.txt"), "");
    EXPECT_NE(PackageNameProblem("COM0.txt"), "");
    EXPECT_NE(PackageNameProblem("Sub\\"), "");
    EXPECT_EQ(PackageNameProblem("a.b.c"), "");
}

TEST(BuilderTree, StoredDescription) {
    EXPECT_EQ(StoredDescription("one\ntwo\r\nthree\rfour"), "one\r\ntwo\r\nthree\r\nfour");
    EXPECT_EQ(StoredDescription(""), "");
    EXPECT_EQ(StoredDescription("\n\n"), "\r\n\r\n");
}

