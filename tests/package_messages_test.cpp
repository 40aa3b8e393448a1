// Tests of the message table: the shipped resource, parsing rules for empty, missing and
// long lines, sub-items, and the fallbacks when the resource is missing.
#include <gtest/gtest.h>

#include <cstring>

#include "package/message_table.h"

namespace {

std::unique_ptr<MessageTable> ParseText(std::string text) {
    TCVLFlatRamStream s(&text[0], static_cast<uint32_t>(text.size()), static_cast<uint32_t>(text.size()));
    return MessageTable::Parse(s);
}

}  // namespace

TEST(MessageTable, ShippedTableIsFoundAndDivided) {
    auto t = MessageTable::LoadFromResource(nullptr, os::ResourceName{MessageTable::kResourceId, nullptr});
    EXPECT_STREQ(t->Line(kMsgLanguage), "English");
    EXPECT_STREQ(t->SubItem(kMsgOperationWords, 0), "Add");
    EXPECT_STREQ(t->SubItem(kMsgOperationWords, 1), "Update");
    EXPECT_STREQ(t->SubItem(kMsgOperationWords, 2), "Remove");
    EXPECT_STREQ(t->SubItem(kMsgOperationWords, 3), "");
    EXPECT_STREQ(t->SubItem(kMsgQuestionLabels, 1), "Filename: ");
    EXPECT_STREQ(t->Line(kMsgCaption), "Upgrade Processing");
    EXPECT_STREQ(t->Line(kMsgInitializing), "Initalizing...");
    EXPECT_STREQ(t->Line(kMsgMissing), "** Error: This file cannot be found. It will not be updated.");
    EXPECT_EQ(std::strncmp(t->Line(kMsgCriticalDetail), "A critical error was detected", 29), 0);
    for (int i = 0; i < MessageTable::kLines; ++i) {
        EXPECT_EQ(std::strchr(t->Line(i), '\r'), nullptr) << i;
        EXPECT_STRNE(t->Line(i), "-|-|-|") << i;
    }
}

TEST(MessageTable, EmptyMissingAndLongLines) {
    std::string text = "Deutsch\n|Neu||\n\nCaption\n";
    for (int i = 4; i < 9; ++i) text += "line " + std::to_string(i) + "\r\n";
    text += "\r\n";                       // line 9 empty
    text += std::string(300, 'L') + "\n";  // line 10 too long
    text += "a|b";                       // line 11, last, without LF
    auto t = ParseText(text);
    EXPECT_STREQ(t->Line(0), "Deutsch");
    EXPECT_STREQ(t->SubItem(1, 0), "");
    EXPECT_STREQ(t->SubItem(1, 1), "Neu");
    EXPECT_STREQ(t->SubItem(1, 3), "");
    // An empty line 2 is "-|-|-|", divided like the line it replaces.
    EXPECT_STREQ(t->SubItem(2, 0), "-");
    EXPECT_STREQ(t->SubItem(2, 2), "-");
    EXPECT_STREQ(t->Line(8), "line 8");
    EXPECT_STREQ(t->Line(9), "-|-|-|");
    EXPECT_EQ(std::string(t->Line(10)), std::string(255, 'L'));
    EXPECT_STREQ(t->Line(11), "a|b");  // only lines 1 and 2 are divided
    for (int i = 12; i < MessageTable::kLines; ++i) EXPECT_STREQ(t->Line(i), "-|-|-|") << i;

    // Lines after the 21st are not read.
    std::string many;
    for (int i = 0; i < 25; ++i) many += "row " + std::to_string(i) + "\r\n";
    auto m = ParseText(many);
    EXPECT_STREQ(m->Line(20), "row 20");
}

TEST(MessageTable, OutOfRangeRequestsGiveEmptyText) {
    auto t = ParseText("x\r\nAdd|Update|Remove|\r\nOperation: |\r\n");
    EXPECT_STREQ(t->Line(-1), "");
    EXPECT_STREQ(t->Line(MessageTable::kLines), "");
    // Sub-items past the line's own pieces do not run into the next lines or the block end.
    EXPECT_STREQ(t->SubItem(1, 4), "");
    EXPECT_STREQ(t->SubItem(20, 1), "");
    EXPECT_STREQ(t->SubItem(20, 100000), "");
    EXPECT_STREQ(t->SubItem(1, -1), "");
}

TEST(MessageTable, FallsBackToNotAvailable) {
    // Neither the asked resource nor "AMBRELUI" exists in the program.
    for (os::ResourceName name : {os::ResourceName{999, nullptr}, os::ResourceName{0, "NOSUCHTABLE"}}) {
        auto t = MessageTable::LoadFromResource(nullptr, name);
        EXPECT_STREQ(t->Line(0), "N/A");
        EXPECT_STREQ(t->Line(3), "-|-|-|");
        EXPECT_STREQ(t->SubItem(1, 1), "-");
    }
}

TEST(MessageTable, FallsBackToTheNamedTable) {
    if (os::kSeparator == '\\') GTEST_SKIP() << "a module's resources are fixed at link time on Windows";
    static const unsigned char kNamed[] = "Named\r\n";
    static const unsigned char kNumbered[] = "Numbered\r\n";
    const os::EmbeddedResource both[] = {{{0, "ambrelui"}, kNamed, sizeof kNamed - 1},
                                         {{101, nullptr}, kNumbered, sizeof kNumbered - 1}};
    const os::ResourceTable with_both = {both, 2};
    const os::ResourceTable named_only = {both, 1};
    const os::ResourceTable none = {both, 0};
    const os::ResourceName id{101, nullptr};
    EXPECT_STREQ(MessageTable::LoadFromResource(&with_both, id)->Line(0), "Numbered");
    EXPECT_STREQ(MessageTable::LoadFromResource(&named_only, id)->Line(0), "Named");
    EXPECT_STREQ(MessageTable::LoadFromResource(&none, id)->Line(0), "N/A");
}
