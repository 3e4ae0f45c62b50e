#include "platform/profile_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <random>

#include "platform/utf16.h"
#include "support/files.h"
#include "support/temp_dir.h"
#include "support/unprivileged.h"

namespace qm::platform {
namespace {

namespace fs = std::filesystem;
using qm::testing::ReadWholeFile;
using qm::testing::TempDir;
using qm::testing::WriteWholeFile;

const std::string kGrin = "\xF0\x9F\x98\x80";  // needs a surrogate pair

TEST(ProfileFile, ReadsWindowsStyleFiles) {
    TempDir dir;
    const fs::path crlf = dir.path() / "crlf.ini";
    WriteWholeFile(crlf, "orphan=ignored\r\n  [ Mod_Collector ]  \r\n; Port=1\r\n  Port  =  514  \r\nPORT=999\r\n"
                    "name=\"  padded  \"\r\nsingle='x'\r\nmixed=\"x'\r\nno equals sign here\r\nbad=\xFF\r\n"
                    "empty=\r\nlast=no newline");
    const ProfileFile doc = ProfileFile::Load(crlf);
    EXPECT_EQ(doc.Sections(), std::vector<std::string>{"Mod_Collector"});
    EXPECT_TRUE(doc.HasSection("MOD_COLLECTOR"));
    const std::pair<const char*, const char*> values[] = {
        {"port", "514"}, {"name", "  padded  "}, {"single", "x"},  {"mixed", "\"x'"},
        {"bad", "\xEF\xBF\xBD"}, {"empty", ""}, {"last", "no newline"}};
    for (const auto& [key, value] : values) EXPECT_EQ(doc.Get("mod_collector", key), value) << key;
    EXPECT_EQ(doc.Get("mod_collector", "orphan"), std::nullopt);
    EXPECT_EQ(doc.Keys("mod_collector"),
              (std::vector<std::string>{"Port", "name", "single", "mixed", "bad", "empty", "last"}));

    const fs::path wide = dir.path() / "wide.ini";
    WriteWholeFile(wide, "\xFF\xFE" + Utf8ToUtf16LEBytes("[s]\r\nk=v" + kGrin + "\r\nn=-12x\r\n"));
    const ProfileFile w = ProfileFile::Load(wide);
    EXPECT_EQ(w.Get("S", "K"), "v" + kGrin);
    EXPECT_EQ(w.ReadInt("s", "n", 5), -12);

    const fs::path bom = dir.path() / "bom.ini";
    WriteWholeFile(bom, "\xEF\xBB\xBF[s]\nk=v\n");
    EXPECT_EQ(GetPrivateProfileString(bom, "s", "k", 10), "v");
    EXPECT_EQ(GetPrivateProfileString(dir.path() / "missing.ini", "s", "k", 10), "");
}

// Found by fuzzing: with a doubled mark the first header hid in the first
// line; the save turned that line into a plain UTF-8 mark and a live header,
// whose stale keys then shadowed the values just saved.
TEST(ProfileFile, DoubledByteOrderMarkIsNoContent) {
    TempDir dir;
    const fs::path path = dir.path() / "bom.ini";
    const std::string utf16 = std::string("\xFF\xFE\xFF\xFE") + std::string("[\0s\0]\0\r\0\n\0k\0=\0o\0l\0d\0", 20);
    for (const std::string& bytes : {utf16, std::string("\xEF\xBB\xBF\xEF\xBB\xBF[s]\nk=old\n")}) {
        WriteWholeFile(path, bytes);
        ProfileFile doc = ProfileFile::Load(path);
        EXPECT_EQ(doc.Get("s", "k"), "old");
        ASSERT_TRUE(doc.WriteString("s", "k", "new"));
        ASSERT_TRUE(doc.Save(path));
        EXPECT_EQ(ProfileFile::Load(path).Get("s", "k"), "new");
    }
}

TEST(ProfileFile, ReadStringCountsUtf16UnitsAndReadIntTakesLeadingDigits) {
    ProfileFile doc;
    doc.WriteString("s", "k", "a" + kGrin + "\xC3\xA9");
    const std::string expected[] = {"", "", "a", "a", "a" + kGrin, "a" + kGrin + "\xC3\xA9"};
    for (size_t cap = 0; cap < std::size(expected); ++cap) EXPECT_EQ(doc.ReadString("s", "k", cap), expected[cap]) << cap;
    EXPECT_EQ(doc.ReadString("s", "missing", 100), "");

    const std::pair<std::string, int> cases[] = {{"42abc", 42}, {"-7", -7}, {"+3", 3}, {"abc", 0}, {"", 0}, {"- 5", 0},
        {"99999999999", INT_MAX}, {"-99999999999", INT_MIN}, {"-2147483648", INT_MIN}};
    for (const auto& [text, value] : cases) {
        doc.WriteString("s", "k", text);
        EXPECT_EQ(doc.ReadInt("s", "k", 99), value) << text;
    }
    EXPECT_EQ(doc.ReadInt("s", "missing", 99), 99);
}

TEST(ProfileFile, StructRoundTripAndCorruption) {
    TempDir dir;
    const fs::path file = dir.path() / "s.ini";
    const std::vector<uint8_t> data = {0x00, 0xAB, 0xFF, 0x10};
    ASSERT_TRUE(WritePrivateProfileStruct(file, "s", "blob", data));
    EXPECT_EQ(ReadWholeFile(file), "[s]\nblob=00ABFF10BA\n");
    EXPECT_EQ(GetPrivateProfileStruct(file, "s", "blob", data.size()), data);
    ASSERT_TRUE(WritePrivateProfileStruct(file, "s", "none", {}));
    EXPECT_EQ(GetPrivateProfileStruct(file, "s", "none", 0), std::vector<uint8_t>{});

    ProfileFile doc;
    doc.WriteString("s", "lower", "00abff10ba");
    EXPECT_EQ(doc.ReadStruct("s", "lower", 4), data);
    // Checksum missing, a byte too many, checksum wrong, not hex, odd digits, a blank, nothing.
    for (const char* bad : {"00ABFF10", "00ABFF10BA00", "00ABFF10BB", "00ABFG10BA", "00ABFF10B", "00ABFF10 BA", ""}) {
        doc.WriteString("s", "k", bad);
        EXPECT_EQ(doc.ReadStruct("s", "k", 4), std::nullopt) << bad;
    }
    EXPECT_EQ(doc.ReadStruct("s", "lower", SIZE_MAX), std::nullopt);
    EXPECT_EQ(doc.ReadStruct("s", "missing", 0), std::nullopt);
}

TEST(ProfileFile, RewritingOneSectionKeepsEverythingElse) {
    TempDir dir;
    const fs::path file = dir.path() / "m.ini";
    WriteWholeFile(file, "; header comment\r\n[one]\r\na = 1\r\njunk line\r\nb=2\r\n; trailing comment\r\n\r\n"
                    "[two]\r\nx=1\r\n; keep me\r\ny=2\r\n[ONE]\r\na=shadowed\r\n");
    ProfileFile doc = ProfileFile::Load(file);
    EXPECT_TRUE(doc.WriteString("ONE", "B", "20"));
    EXPECT_TRUE(doc.WriteString("one", "c", "3"));
    EXPECT_TRUE(doc.EmptySection("two"));
    EXPECT_TRUE(doc.WriteString("two", "z", "9"));
    EXPECT_TRUE(doc.WriteString("three", "k", "v"));
    EXPECT_TRUE(doc.EmptySection("four"));
    ASSERT_TRUE(doc.Save(file));
    EXPECT_EQ(ReadWholeFile(file), "; header comment\n[one]\na = 1\njunk line\nB=20\nc=3\n; trailing comment\n\n"
                                   "[two]\n; keep me\nz=9\n[ONE]\na=shadowed\n\n[three]\nk=v\n\n[four]\n");
    const ProfileFile back = ProfileFile::Load(file);
    EXPECT_EQ(back.Sections(), (std::vector<std::string>{"one", "two", "three", "four"}));
    EXPECT_EQ(back.Get("one", "a"), "1");
    EXPECT_EQ(back.Keys("two"), std::vector<std::string>{"z"});
}

TEST(ProfileFile, WrittenValuesReadBackExactly) {
    TempDir dir;
    const fs::path file = dir.path() / "v.ini";
    ProfileFile doc;
    for (const std::string v : {"  spaced  ", "\"quoted\"", "'q'", "\"", "", "a;b=c", kGrin.c_str()}) {
        ASSERT_TRUE(doc.WriteString("s", "k", v));
        ASSERT_TRUE(doc.Save(file));
        EXPECT_EQ(ProfileFile::Load(file).Get("s", "k"), v);
    }
    // A line break must not let the remainder become a key of its own.
    ASSERT_TRUE(doc.WriteString("s", "k", "x\nAdmin=1\r\n[other]"));
    ASSERT_TRUE(doc.Save(file));
    const ProfileFile back = ProfileFile::Load(file);
    EXPECT_EQ(back.Get("s", "k"), "x Admin=1  [other]");
    EXPECT_EQ(back.Keys("s"), std::vector<std::string>{"k"});
    EXPECT_FALSE(back.HasSection("other"));

    const std::pair<const char*, const char*> badNames[] = {
        {"s", "a=b"}, {"s", ";c"}, {"s", "[k"}, {"s", " "}, {"a]b", "k"}, {"", "k"}, {"a\nb", "k"}};
    for (const auto& [section, key] : badNames) {
        errno = 0;
        EXPECT_FALSE(doc.WriteString(section, key, "v")) << section << " " << key;
        EXPECT_EQ(errno, EINVAL);
    }
    EXPECT_EQ(doc.Sections(), std::vector<std::string>{"s"});
}

TEST(ProfileFile, FailedSaveLeavesOldFileAndNoTemporary) {
    TempDir dir;
    const fs::path sub = dir.path() / "ro", file = sub / "m.ini";
    const auto entries = [](const fs::path& d) { return std::distance(fs::directory_iterator(d), fs::directory_iterator()); };
    fs::create_directory(sub);
    WriteWholeFile(file, "[s]\nk=old\n");
    ::chmod(file.c_str(), 0644);
    ProfileFile doc = ProfileFile::Load(file);
    doc.WriteString("s", "k", "new");

    ::chmod(sub.c_str(), 0555);
    EXPECT_EQ(qm::testing::RunAsNobody([&] { return doc.Save(file) ? 0 : errno; }), EACCES);  // a read-only folder
    ::chmod(sub.c_str(), 0755);
    EXPECT_EQ(ReadWholeFile(file), "[s]\nk=old\n");
    EXPECT_EQ(entries(sub), 1);

    const fs::path asDir = dir.path() / "isdir.ini";
    fs::create_directory(asDir);
    errno = 0;
    EXPECT_FALSE(doc.Save(asDir));
    EXPECT_EQ(errno, EISDIR);
    EXPECT_FALSE(WritePrivateProfileString(asDir, "s", "k", "v"));
    EXPECT_EQ(errno, EISDIR);
    EXPECT_FALSE(doc.Save(dir.path() / "no-such-folder" / "m.ini"));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(entries(dir.path()), 2);

    // Existing permissions survive a rewrite; new files start private.
    const auto mode = [](const fs::path& p) { return fs::status(p).permissions(); };
    ::chmod(file.c_str(), 0640);
    ASSERT_TRUE(doc.Save(file));
    EXPECT_EQ(mode(file), fs::perms(0640));
    EXPECT_EQ(ProfileFile::Load(file).Get("s", "k"), "new");
    ASSERT_TRUE(doc.Save(dir.path() / "fresh.ini"));
    EXPECT_EQ(mode(dir.path() / "fresh.ini"), fs::perms(0600));
}

TEST(ProfileFile, GarbageHugeFilesAndLargeSectionsLoadWhole) {
    TempDir dir;
    const fs::path file = dir.path() / "junk.ini";
    // Far larger than any settings file, and the known lines at its end, so
    // a load that stopped early would miss them. (50 MB took 13 s, 48 s under
    // the sanitizers, and checked no more.)
    std::string junk(8u << 20, '\0');
    std::mt19937_64 rng(7);
    for (size_t i = 0; i + 8 <= junk.size(); i += 8) {
        const uint64_t r = rng();
        std::memcpy(junk.data() + i, &r, 8);
    }
    junk.replace(junk.size() - 1000, 12, "\n[s]\nk=v\n\xC3\n");
    WriteWholeFile(file, junk);
    const ProfileFile doc = ProfileFile::Load(file);
    EXPECT_EQ(doc.Get("s", "k"), "v");
    const std::string saved = doc.Serialize();
    EXPECT_EQ(SanitizeUtf8(saved), saved);

    WriteWholeFile(file, "[s]\nk=" + std::string(100000, 'x') + "\nafter=1\n");
    const ProfileFile longLine = ProfileFile::Load(file);
    EXPECT_EQ(longLine.Get("s", "k")->size(), (64u << 10) - 2);
    EXPECT_EQ(longLine.Get("s", "after"), "1");

    // A large section keeps the file's order and finds each key.
    ProfileFile big;
    constexpr int kKeys = 20000;
    for (int i = 0; i < kKeys; ++i) big.WriteString("big", "key" + std::to_string(i), std::to_string(i));
    ASSERT_TRUE(big.Save(file));
    const ProfileFile back = ProfileFile::Load(file);
    const std::vector<std::string> keys = back.Keys("big");
    ASSERT_EQ(keys.size(), static_cast<size_t>(kKeys));
    for (int i = 0; i < kKeys; ++i) {
        ASSERT_EQ(keys[i], "key" + std::to_string(i));
        ASSERT_EQ(back.ReadInt("BIG", "KEY" + std::to_string(i), -1), i);
    }
}

}  // namespace
}  // namespace qm::platform
