// Tests of the package loader: plain and compressed forms, header checks, entry counts,
// long strings, cut-off files, the target folder and the refusal of unsafe names.
#include <gtest/gtest.h>

#include <cstring>

#include "package/entry_name.h"
#include "package/package.h"
#include "package/writer.h"
#include "support/test_util.h"

namespace {

EntryRecord Record(uint8_t op, const std::string& name, const std::string& description, FileIdentity old_id,
                   FileIdentity new_id, uint8_t warning = 0, uint8_t error = 0) {
    EntryRecord e;
    e.operation = op;
    e.warning_policy = warning;
    e.error_policy = error;
    e.name = name;
    e.description = description;
    e.old_identity = old_id;
    e.new_identity = new_id;
    return e;
}

// Two Updates of new sizes 1000 and 24, a Remove and an empty Add, with their scripts.
struct Sample {
    PackageHeader header;
    std::vector<EntryRecord> entries;
    std::vector<Bytes> scripts;
    Bytes script_bytes;

    Sample() {
        header.title = "Brackwold 1.3";
        header.description = "Brings version 1.2 up to 1.3.\r\nSecond line.";
        entries = {
            Record(kOpUpdate, "System\\Game.exe", "Main program", {0x2A6B5C00, 5000, 0x1234}, {0x2B215800, 1000, 0xBEEF}, 1, 2),
            Record(kOpUpdate, "System\\Core.dll", "Core", {0x2A6B5C02, 30, 0x0001}, {0x2B215802, 24, 0x0002}, 3, 1),
            Record(kOpRemove, "Help\\Old.txt", "Old help", {0x2A6B5C04, 77, 0xCAFE}, {}, 2, 3),
            Record(kOpAdd, "Maps\\New.map", "New map", {}, {0x2B215804, 0, 0}),
        };
        ScriptWriter a, b, c;
        a.CopyFar(0, 500);
        a.Literal(RandomBytes(500, 1).data(), 500);
        a.End();
        b.SetOffsetHigh(0);
        b.CopyNear(6, 24);
        b.End();
        c.End();
        scripts = {a.bytes(), b.bytes(), c.bytes()};
        for (const Bytes& s : scripts) script_bytes.insert(script_bytes.end(), s.begin(), s.end());
    }
    Bytes Build(int level) const { return BuildPackageBytes(header, entries, scripts, level); }
    // Length of header, strings and the first n records.
    size_t TableLength(size_t n) const {
        return BuildPackageBytes(header, {entries.begin(), entries.begin() + n}, {}, 0).size();
    }
};

std::string Write(const TempDir& dir, const std::string& name, const Bytes& bytes) {
    std::string path = dir / name;
    WriteFileBytes(path, bytes);
    return path;
}

std::unique_ptr<UpgradePackage> Full(const std::string& path, const std::string& target = ".") {
    return UpgradePackage::OpenFull(path.c_str(), target.c_str());
}

void ExpectSameIdentity(const FileIdentity& a, const FileIdentity& b) {
    EXPECT_EQ(a.stamp, b.stamp);
    EXPECT_EQ(a.size, b.size);
    EXPECT_EQ(a.check, b.check);
}

}  // namespace

TEST(PackageReader, PlainAndCompressedFormsReadTheSame) {
    TempDir dir;
    Sample sample;
    Bytes trailing = sample.Build(9);
    for (char c : std::string("junk after the zlib stream")) trailing.push_back(static_cast<uint8_t>(c));
    const std::string paths[] = {Write(dir, "plain.upg", sample.Build(0)), Write(dir, "fast.upg", sample.Build(1)),
                                 Write(dir, "trailing.upg", trailing)};
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        {
            // The file is opened without sharing: one package object at a time.
            auto header = UpgradePackage::OpenHeader(path.c_str());
            EXPECT_TRUE(header->IsValid());
            EXPECT_FALSE(header->IsFull());
            EXPECT_STREQ(header->Title, "Brackwold 1.3");
        }

        auto p = Full(path, dir.Path());
        ASSERT_TRUE(p->IsValid()) << p->RefusalReason();
        EXPECT_EQ(p->IsCompressed(), path != paths[0]);
        EXPECT_EQ(p->FormatVersion, 17);
        EXPECT_STREQ(p->Title, "Brackwold 1.3");
        EXPECT_STREQ(p->Description.get(), sample.header.description.c_str());
        ASSERT_EQ(p->EntryCount, 4);
        ASSERT_EQ(p->entries.size(), 4u);
        for (size_t i = 0; i < 4; ++i) {
            const FileEntry& e = p->entries[i];
            const EntryRecord& r = sample.entries[i];
            EXPECT_EQ(e.Operation, r.operation);
            EXPECT_EQ(e.WarningPolicy, r.warning_policy);
            EXPECT_EQ(e.ErrorPolicy, r.error_policy);
            EXPECT_EQ(e.state, 0);
            EXPECT_EQ(e.name, r.name);
            EXPECT_EQ(e.Description, r.description);
            // Absent identities stay zero.
            ExpectSameIdentity(e.OldIdentity, HasOldIdentity(r.operation) ? r.old_identity : FileIdentity{});
            ExpectSameIdentity(e.NewIdentity, HasNewIdentity(r.operation) ? r.new_identity : FileIdentity{});
        }
        EXPECT_EQ(p->ProgressDone, 1);
        EXPECT_EQ(p->ProgressTotal, 1025u);
        // The stream stands at the first script.
        Bytes rest(sample.script_bytes.size() + 64);
        uint32_t got = p->stream->Read(rest.data(), static_cast<uint32_t>(rest.size()));
        rest.resize(got);
        EXPECT_EQ(rest, sample.script_bytes);
    }
}

TEST(PackageReader, HeaderChecks) {
    TempDir dir;
    Sample sample;
    sample.header.format_version = 17;
    EXPECT_TRUE(UpgradePackage::OpenHeader(Write(dir, "v17.upg", sample.Build(0)).c_str())->IsValid());
    sample.header.format_version = 18;
    EXPECT_FALSE(UpgradePackage::OpenHeader(Write(dir, "v18.upg", sample.Build(0)).c_str())->IsValid());
    auto v18 = Full(Write(dir, "v18z.upg", sample.Build(6)));
    EXPECT_FALSE(v18->IsValid());
    EXPECT_NE(v18->RefusalReason().find("18"), std::string::npos);
    sample.header.format_version = 0;
    Bytes bad_marker = sample.Build(0);
    bad_marker[6] = 'E';
    EXPECT_FALSE(UpgradePackage::OpenHeader(Write(dir, "marker.upg", bad_marker).c_str())->IsValid());

    // Ending inside the description is invalid; ending right after it is not.
    PackageHeader bare;
    bare.title = "T";
    bare.description = "D";
    Bytes whole = BuildPackageBytes(bare, {}, {}, 0);
    EXPECT_TRUE(UpgradePackage::OpenHeader(Write(dir, "bare.upg", whole).c_str())->IsValid());
    whole.pop_back();
    EXPECT_FALSE(UpgradePackage::OpenHeader(Write(dir, "cut.upg", whole).c_str())->IsValid());
    EXPECT_FALSE(UpgradePackage::OpenHeader(Write(dir, "short.upg", Bytes(whole.begin(), whole.begin() + 9)).c_str())->IsValid());

    // A missing file: invalid, no entries.
    const std::string missing = dir / "missing.upg";
    EXPECT_FALSE(UpgradePackage::OpenHeader(missing.c_str())->IsValid());
    auto p = UpgradePackage::OpenFull(missing.c_str(), dir.Path().c_str());
    EXPECT_FALSE(p->IsValid());
    EXPECT_EQ(p->ProgressTotal, 0u);
    EXPECT_TRUE(p->entries.empty());
    EXPECT_FALSE(p->RefusalReason().empty());
}

TEST(PackageReader, EntryCounts) {
    TempDir dir;
    PackageHeader h;
    h.title = "counts";
    std::vector<EntryRecord> one = {Record(kOpAdd, "a.txt", "", {}, {1, 5, 5})};

    h.entry_count = 0;
    auto zero = Full(Write(dir, "zero.upg", BuildPackageBytes(h, {}, {}, 0)));
    EXPECT_TRUE(zero->IsValid());
    EXPECT_EQ(zero->ProgressTotal, 1u);

    // A negative count reads no records: the stream stays at the first record's flags.
    h.entry_count = -3;
    auto negative = Full(Write(dir, "negative.upg", BuildPackageBytes(h, one, {}, 0)));
    EXPECT_TRUE(negative->IsValid());
    EXPECT_TRUE(negative->entries.empty());
    EXPECT_EQ(negative->ProgressTotal, 1u);
    EXPECT_EQ(negative->stream->GetByte(), PackEntryFlags(kOpAdd, 0, 0));
    EXPECT_EQ(negative->stream->GetByte(), 'a');

    // The table holds 10000 entries; one more refuses the package without reading.
    std::vector<EntryRecord> many;
    for (int i = 0; i <= kMaxEntries; ++i) many.push_back(Record(kOpRemove, "f" + std::to_string(i), "", {1, 2, 3}, {}));
    h.entry_count = -1;
    auto full_table = Full(Write(dir, "max.upg", BuildPackageBytes(h, {many.begin(), many.end() - 1}, {}, 6)));
    EXPECT_TRUE(full_table->IsValid()) << full_table->RefusalReason();
    EXPECT_EQ(full_table->entries.size(), static_cast<size_t>(kMaxEntries));
    auto too_many = Full(Write(dir, "over.upg", BuildPackageBytes(h, many, {}, 0)));
    EXPECT_FALSE(too_many->IsValid());
    EXPECT_EQ(too_many->ProgressTotal, 0u);
    EXPECT_TRUE(too_many->entries.empty());
    EXPECT_NE(too_many->RefusalReason().find("10001"), std::string::npos);
    EXPECT_EQ(too_many->stream->Tell(), BuildPackageBytes(h, {}, {}, 0).size());
}

TEST(PackageReader, LongStringsAreCutAndFullyConsumed) {
    TempDir dir;
    PackageHeader h;
    h.title = std::string(100, 'T');
    h.description = std::string(9000, 'D');
    std::vector<EntryRecord> entries = {
        Record(kOpAdd, std::string(249, 'n'), std::string(100, 'e'), {}, {7, 10, 0x0A0B}),
        Record(kOpUpdate, "next\\file.bin", "after the long name", {1, 2, 3}, {4, 5, 6}),
    };
    Bytes bytes = BuildPackageBytes(h, entries, {}, 0);
    // Bits 6 and 7 of the flags mean nothing.
    const size_t flags_at = kHeaderSize + h.title.size() + 1 + h.description.size() + 1;
    bytes[flags_at] |= 0xC0;
    auto p = Full(Write(dir, "long.upg", bytes));
    ASSERT_TRUE(p->IsValid()) << p->RefusalReason();
    EXPECT_EQ(std::string(p->Title), std::string(79, 'T'));
    EXPECT_EQ(std::string(p->Description.get()), std::string(8191, 'D'));
    ASSERT_EQ(p->entries.size(), 2u);
    EXPECT_EQ(p->entries[0].Operation, kOpAdd);
    EXPECT_EQ(std::string(p->entries[0].name), std::string(249, 'n'));
    EXPECT_EQ(std::string(p->entries[0].Description), std::string(79, 'e'));
    EXPECT_EQ(p->entries[0].NewIdentity.check, 0x0A0B);
    EXPECT_STREQ(p->entries[1].name, "next\\file.bin");
    EXPECT_STREQ(p->entries[1].Description, "after the long name");
    EXPECT_EQ(p->entries[1].OldIdentity.size, 2u);
    EXPECT_EQ(p->entries[1].NewIdentity.stamp, 4u);
    EXPECT_EQ(p->ProgressTotal, 1u + 10 + 5);

    // A name is never cut: cut, it would name another file.
    entries[0].name = std::string(250, 'n');
    auto cut = Full(Write(dir, "cut.upg", BuildPackageBytes(h, entries, {}, 0)));
    EXPECT_FALSE(cut->IsValid());
    EXPECT_NE(cut->RefusalReason().find("name of 250 characters"), std::string::npos) << cut->RefusalReason();
}

TEST(PackageReader, CutOffFilesAreInvalid) {
    TempDir dir;
    Sample sample;
    const Bytes plain = sample.Build(0);
    const size_t third = sample.TableLength(2), fourth = sample.TableLength(3), end = sample.TableLength(4);
    // Inside the third record's flags, name and identity, and inside the last identity,
    // where no later read could notice the gap.
    for (size_t cut : {third + 1, third + 4, fourth - 3, end - 9, end - 1}) {
        const Bytes cut_plain(plain.begin(), plain.begin() + cut);
        auto p = Full(Write(dir, "cut.upg", cut_plain));
        EXPECT_FALSE(p->IsValid()) << "cut at " << cut;
        EXPECT_EQ(p->ProgressTotal, 0u) << "cut at " << cut;
        // The same cut plain bytes as a complete zlib stream.
        PackageFileWriter writer;
        std::string error;
        ASSERT_TRUE(writer.Open((dir / "cutz.upg").c_str(), 6, &error)) << error;
        writer.WriteBytes(cut_plain.data(), cut_plain.size());
        ASSERT_TRUE(writer.Finish(&error)) << error;
        EXPECT_FALSE(Full(dir / "cutz.upg")->IsValid()) << "compressed, cut at " << cut;
    }
    // A compressed body cut inside the table.
    const Bytes packed = sample.Build(6);
    auto p = Full(Write(dir, "cut2.upg", Bytes(packed.begin(), packed.begin() + 40)));
    EXPECT_FALSE(p->IsValid());

    // A compressed body cut inside the scripts: the table is fine, the scripts end short
    // with the stream's error set.
    Sample big;
    Bytes literal = RandomBytes(60000, 9);
    ScriptWriter w;
    w.Literal(literal.data(), static_cast<uint32_t>(literal.size()));
    w.End();
    big.scripts[0] = w.bytes();
    const Bytes big_packed = big.Build(6);
    auto q = Full(Write(dir, "cut3.upg", Bytes(big_packed.begin(), big_packed.end() - 20000)));
    ASSERT_TRUE(q->IsValid()) << q->RefusalReason();
    Bytes scripts(70000);
    EXPECT_LT(q->stream->Read(scripts.data(), 70000), 60000u);
    EXPECT_TRUE(q->stream->HasError());
    EXPECT_FALSE(q->IsValid());
}

TEST(PackageReader, TargetFolderGetsOneSeparatorAndMustFit) {
    TempDir dir;
    const std::string path = Write(dir, "p.upg", Sample().Build(0));
    const std::string sep(1, os::kSeparator);
    EXPECT_EQ(std::string(Full(path, dir.Path())->target_folder), dir.Path() + sep);
    EXPECT_EQ(std::string(Full(path, dir.Path() + sep)->target_folder), dir.Path() + sep);
    EXPECT_STREQ(Full(path, "D:/GAME/")->target_folder, "D:/GAME/");
    // No folder at all is refused: it is never turned into a root folder, nor the current one.
    auto none = Full(path, "");
    EXPECT_STREQ(none->target_folder, "");
    EXPECT_FALSE(none->IsValid());
    EXPECT_EQ(none->RefusalReason(), "no target folder was given");
    none.reset();  // the package file is open without sharing

    // 258 characters and the separator fill the 260-byte buffer; 259 do not fit.
    auto fits = Full(path, std::string(258, 'x'));
    EXPECT_TRUE(fits->IsValid());
    EXPECT_EQ(std::string(fits->target_folder), std::string(258, 'x') + sep);
    fits.reset();
    auto too_long = Full(path, std::string(259, 'x'));
    EXPECT_FALSE(too_long->IsValid());
    EXPECT_STREQ(too_long->target_folder, "");
    EXPECT_NE(too_long->RefusalReason().find("too long"), std::string::npos);
    EXPECT_TRUE(too_long->SetTargetFolder(dir.Path().c_str()));
    EXPECT_TRUE(too_long->IsValid());
    EXPECT_EQ(too_long->RefusalReason(), "");
}

TEST(PackageReader, UnsafeEntryNamesAreRefused) {
    for (const char* name : {"..\\x", "a\\..\\..\\x", "a/../../x", "..", "a\\..", "\\abs", "/abs", "\\\\srv\\s\\x",
                             "C:\\x", "C:x", "x:stream", "", "__QXUPD_\\N00001.TMP", "__qxupd_/x", "__QXUPD_",
                             "__QXUPD_.\\x", "...\\x", ".. \\x",
                             // every spelling of the temporary folder
                             ".\\__QXUPD_\\N00001.TMP", "./__qxupd_//x", ".\\.\\__QxUpD_",
                             // names Windows cannot hold, or opens as devices
                             "CON", "nul", "aux.txt", "Sub\\COM1", "LPT1.dat", "con .txt", "CONOUT$", "dot.",
                             "Maps\\space \\x", "tab\there", "esc\x1b[31m", "a?b", "a*b", "a|b", "a<b", "a\"b",
                             // also COM0 and LPT0, and the superscript digits of the code page
                             "COM0", "lpt0.txt", "Sub\\COM9", "COM\xB9", "lpt\xB2.dat", "COM\xB3 .x",
                             // a name that ends in a separator (or a "." component) names a folder
                             "sub\\", "sub/", "a\\b\\\\", "sub\\.", "a\\b\\.\\"})
        EXPECT_FALSE(IsSafeEntryName(name)) << name;
    for (const char* name : {"a\\b.txt", "x..y", "..foo\\bar", "a\\.\\b", "__QXUPD_x\\f", "a\\__QXUPD_\\f",
                             "CONSOLE.txt", "COM10", "COMA", "LPT", "nullable.dat", ".hidden", "a.b.c", "COM\xB9x"})
        EXPECT_TRUE(IsSafeEntryName(name)) << name;

    char plain[] = ".\\Maps//.\\\\Level.map";
    NormalizeEntryName(plain);
    EXPECT_STREQ(plain, "Maps\\Level.map");
    char absolute[] = "//srv/share";
    NormalizeEntryName(absolute);
    EXPECT_STREQ(absolute, "\\srv\\share") << "an absolute name stays absolute";

    TempDir dir;
    Sample sample;
    sample.entries[2].name = "..\\..\\Windows\\win.ini";
    auto p = Full(Write(dir, "unsafe.upg", sample.Build(6)), dir.Path());
    EXPECT_FALSE(p->IsValid());
    EXPECT_EQ(p->ProgressTotal, 0u);
    EXPECT_EQ(p->RefusalReason().rfind("entry 2 has an unsafe name \"..\\..\\Windows\\win.ini\": ", 0), 0u)
        << p->RefusalReason();
    // The header alone does not look at names.
    EXPECT_TRUE(UpgradePackage::OpenHeader(Write(dir, "unsafe2.upg", sample.Build(0)).c_str())->IsValid());
}

// Two entries that name the same file in any spelling are refused: the later one's bytes
// would replace the earlier one's verified file. Accepted names are kept in plain form.
TEST(PackageReader, EntriesNamingTheSameFileAreRefused) {
    TempDir dir;
    for (const char* alias : {"readme.txt", "README.TXT", ".\\readme.txt", "Docs\\..\\readme.txt"}) {
        Sample sample;
        sample.entries[0].name = "readme.txt";
        sample.entries[1].name = alias;
        auto p = Full(Write(dir, "alias.upg", sample.Build(0)), dir.Path());
        EXPECT_FALSE(p->IsValid()) << alias;
        EXPECT_FALSE(p->RefusalReason().empty()) << alias;
    }
    Sample sample;
    sample.entries[0].name = ".\\Docs//readme.txt";
    sample.entries[1].name = "docs\\readme2.txt";
    auto p = Full(Write(dir, "plain.upg", sample.Build(0)), dir.Path());
    ASSERT_TRUE(p->IsValid()) << p->RefusalReason();
    EXPECT_STREQ(p->entries[0].name, "Docs\\readme.txt");
}

TEST(PackageReader, MessagesComeFromTheAttachedTable) {
    TempDir dir;
    auto p = Full(Write(dir, "m.upg", Sample().Build(0)), dir.Path());
    EXPECT_STREQ(p->Message(kMsgCaption), "");
    EXPECT_STREQ(p->MessageItem(kMsgOperationWords, 1), "");
    std::string text = "English\r\nAdd|Update|Remove|\r\nOperation: |Filename: |Description: |\r\nCaption\r\n";
    TCVLFlatRamStream s(&text[0], static_cast<uint32_t>(text.size()), static_cast<uint32_t>(text.size()));
    p->AttachMessages(MessageTable::Parse(s));
    EXPECT_TRUE(p->HasMessages());
    EXPECT_STREQ(p->Message(kMsgCaption), "Caption");
    EXPECT_STREQ(p->MessageItem(kMsgOperationWords, kOpUpdate), "Update");
    EXPECT_STREQ(p->MessageItem(kMsgQuestionLabels, 2), "Description: ");
}
