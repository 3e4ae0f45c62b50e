#include "support/files.h"
#include "support/temp_dir.h"
#include "platform/profile_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

#include "platform/utf16.h"

namespace qm::platform {
namespace {

namespace fs = std::filesystem;

using TempDir = qm::testing::TempDir;

void WriteFile(const fs::path& p, std::string_view bytes) {
    std::ofstream(p, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

using qm::testing::ReadWholeFile;

size_t EntryCount(const fs::path& dir) {
    return static_cast<size_t>(
        std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

const std::string kGrin = "\xF0\x9F\x98\x80";  // needs a surrogate pair

TEST(ProfileFile, ReadsWindowsStyleFiles) {
    TempDir dir;
    const fs::path crlf = dir.path() / "crlf.ini";
    WriteFile(crlf,
              "orphan=ignored\r\n"
              "  [ Mod_Collector ]  \r\n"
              "; Port=1\r\n"
              "  Port  =  514  \r\n"
              "PORT=999\r\n"
              "name=\"  padded  \"\r\n"
              "single='x'\r\n"
              "mixed=\"x'\r\n"
              "no equals sign here\r\n"
              "bad=\xFF\r\n"
              "empty=\r\n"
              "last=no newline");
    const ProfileFile doc = ProfileFile::Load(crlf);
    EXPECT_EQ(doc.Sections(), std::vector<std::string>{"Mod_Collector"});
    EXPECT_TRUE(doc.HasSection("MOD_COLLECTOR"));
    EXPECT_EQ(doc.Get("mod_collector", "port"), "514");
    EXPECT_EQ(doc.Get("mod_collector", "name"), "  padded  ");
    EXPECT_EQ(doc.Get("mod_collector", "single"), "x");
    EXPECT_EQ(doc.Get("mod_collector", "mixed"), "\"x'");
    EXPECT_EQ(doc.Get("mod_collector", "bad"), "\xEF\xBF\xBD");
    EXPECT_EQ(doc.Get("mod_collector", "empty"), "");
    EXPECT_EQ(doc.Get("mod_collector", "last"), "no newline");
    EXPECT_EQ(doc.Get("mod_collector", "orphan"), std::nullopt);
    const std::vector<std::string> keys = {"Port", "name", "single", "mixed", "bad", "empty", "last"};
    EXPECT_EQ(doc.Keys("mod_collector"), keys);

    const fs::path wide = dir.path() / "wide.ini";
    WriteFile(wide, "\xFF\xFE" + Utf8ToUtf16LEBytes("[s]\r\nk=v" + kGrin + "\r\nn=-12x\r\n"));
    const ProfileFile w = ProfileFile::Load(wide);
    EXPECT_EQ(w.Get("S", "K"), "v" + kGrin);
    EXPECT_EQ(w.ReadInt("s", "n", 5), -12);

    const fs::path bom = dir.path() / "bom.ini";
    WriteFile(bom, "\xEF\xBB\xBF[s]\nk=v\n");
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
        WriteFile(path, bytes);
        ProfileFile doc = ProfileFile::Load(path);
        EXPECT_EQ(doc.Get("s", "k"), "old");
        ASSERT_TRUE(doc.WriteString("s", "k", "new"));
        ASSERT_TRUE(doc.Save(path));
        EXPECT_EQ(ProfileFile::Load(path).Get("s", "k"), "new");
    }
}

TEST(ProfileFile, ReadStringCapacityCountsUtf16UnitsWithTerminator) {
    ProfileFile doc;
    doc.WriteString("s", "k", "a" + kGrin + "\xC3\xA9");
    const std::string expected[] = {"", "", "a", "a", "a" + kGrin, "a" + kGrin + "\xC3\xA9"};
    for (size_t cap = 0; cap < std::size(expected); ++cap) {
        EXPECT_EQ(doc.ReadString("s", "k", cap), expected[cap]) << cap;
    }
    EXPECT_EQ(doc.ReadString("s", "missing", 100), "");
}

TEST(ProfileFile, ReadIntTakesLeadingDigits) {
    ProfileFile doc;
    const std::pair<std::string, int> cases[] = {
        {"42abc", 42}, {"-7", -7}, {"+3", 3}, {"abc", 0}, {"", 0}, {"- 5", 0},
        {"99999999999", INT_MAX}, {"-99999999999", INT_MIN}, {"-2147483648", INT_MIN},
    };
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
    for (const char* bad : {"00ABFF10",      // checksum missing: wrong length
                            "00ABFF10BA00",  // one byte too many
                            "00ABFF10BB",    // checksum disagrees
                            "00ABFG10BA",    // not a hex digit
                            "00ABFF10B",     // odd digit count
                            "00ABFF10 BA", ""}) {
        doc.WriteString("s", "k", bad);
        EXPECT_EQ(doc.ReadStruct("s", "k", 4), std::nullopt) << bad;
    }
    EXPECT_EQ(doc.ReadStruct("s", "lower", SIZE_MAX), std::nullopt);
    EXPECT_EQ(doc.ReadStruct("s", "missing", 0), std::nullopt);
}

TEST(ProfileFile, RewritingOneSectionKeepsEverythingElse) {
    TempDir dir;
    const fs::path file = dir.path() / "m.ini";
    WriteFile(file,
              "; header comment\r\n"
              "[one]\r\n"
              "a = 1\r\n"
              "junk line\r\n"
              "b=2\r\n"
              "; trailing comment\r\n"
              "\r\n"
              "[two]\r\n"
              "x=1\r\n"
              "; keep me\r\n"
              "y=2\r\n"
              "[ONE]\r\n"
              "a=shadowed\r\n");
    ProfileFile doc = ProfileFile::Load(file);
    EXPECT_TRUE(doc.WriteString("ONE", "B", "20"));
    EXPECT_TRUE(doc.WriteString("one", "c", "3"));
    EXPECT_TRUE(doc.EmptySection("two"));
    EXPECT_TRUE(doc.WriteString("two", "z", "9"));
    EXPECT_TRUE(doc.WriteString("three", "k", "v"));
    EXPECT_TRUE(doc.EmptySection("four"));
    ASSERT_TRUE(doc.Save(file));
    EXPECT_EQ(ReadWholeFile(file),
              "; header comment\n"
              "[one]\n"
              "a = 1\n"
              "junk line\n"
              "B=20\n"
              "c=3\n"
              "; trailing comment\n"
              "\n"
              "[two]\n"
              "; keep me\n"
              "z=9\n"
              "[ONE]\n"
              "a=shadowed\n"
              "\n"
              "[three]\n"
              "k=v\n"
              "\n"
              "[four]\n");
    const ProfileFile back = ProfileFile::Load(file);
    EXPECT_EQ(back.Sections(), (std::vector<std::string>{"one", "two", "three", "four"}));
    EXPECT_EQ(back.Get("one", "a"), "1");
    EXPECT_EQ(back.Keys("two"), std::vector<std::string>{"z"});
}

TEST(ProfileFile, WrittenValuesReadBackExactly) {
    TempDir dir;
    const fs::path file = dir.path() / "v.ini";
    ProfileFile doc;
    const std::vector<std::string> values = {"  spaced  ", "\"quoted\"", "'q'", "\"", "",
                                             "a;b=c",      kGrin};
    for (const std::string& v : values) {
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

// Root ignores folder permissions, so the read-only case runs as "nobody".
template <typename Fn>
int ErrnoOfFailedCallUnprivileged(Fn fn) {
    if (::geteuid() != 0) return fn() ? 0 : errno;
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(255);
        ::_exit(fn() ? 0 : errno);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ProfileFile, FailedSaveLeavesOldFileAndNoTemporary) {
    TempDir dir;
    const fs::path sub = dir.path() / "ro";
    fs::create_directory(sub);
    const fs::path file = sub / "m.ini";
    WriteFile(file, "[s]\nk=old\n");
    ::chmod(file.c_str(), 0644);
    ProfileFile doc = ProfileFile::Load(file);
    doc.WriteString("s", "k", "new");

    ::chmod(sub.c_str(), 0555);
    EXPECT_EQ(ErrnoOfFailedCallUnprivileged([&] { return doc.Save(file); }), EACCES);
    ::chmod(sub.c_str(), 0755);
    EXPECT_EQ(ReadWholeFile(file), "[s]\nk=old\n");
    EXPECT_EQ(EntryCount(sub), 1u);

    const fs::path asDir = dir.path() / "isdir.ini";
    fs::create_directory(asDir);
    errno = 0;
    EXPECT_FALSE(doc.Save(asDir));
    EXPECT_EQ(errno, EISDIR);
    EXPECT_FALSE(WritePrivateProfileString(asDir, "s", "k", "v"));
    EXPECT_EQ(errno, EISDIR);
    EXPECT_FALSE(doc.Save(dir.path() / "no-such-folder" / "m.ini"));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(EntryCount(dir.path()), 2u);

    // Existing permissions survive a rewrite; new files start private.
    const auto mode = [](const fs::path& p) {
        struct stat st {};
        ::stat(p.c_str(), &st);
        return st.st_mode & 07777;
    };
    ::chmod(file.c_str(), 0640);
    ASSERT_TRUE(doc.Save(file));
    EXPECT_EQ(mode(file), 0640u);
    EXPECT_EQ(ProfileFile::Load(file).Get("s", "k"), "new");
    ASSERT_TRUE(doc.Save(dir.path() / "fresh.ini"));
    EXPECT_EQ(mode(dir.path() / "fresh.ini"), 0600u);
}

TEST(ProfileFile, GarbageAndHugeFilesLoadWithoutCrashing) {
    TempDir dir;
    const fs::path file = dir.path() / "junk.ini";
    std::string junk(50u << 20, '\0');
    std::mt19937_64 rng(7);
    for (size_t i = 0; i + 8 <= junk.size(); i += 8) {
        const uint64_t r = rng();
        std::memcpy(junk.data() + i, &r, 8);
    }
    junk.replace(1000, 12, "\n[s]\nk=v\n\xC3\n");
    WriteFile(file, junk);
    const ProfileFile doc = ProfileFile::Load(file);
    EXPECT_EQ(doc.Get("s", "k"), "v");
    const std::string saved = doc.Serialize();
    EXPECT_EQ(SanitizeUtf8(saved), saved);

    WriteFile(file, "[s]\nk=" + std::string(100000, 'x') + "\nafter=1\n");
    const ProfileFile longLine = ProfileFile::Load(file);
    EXPECT_EQ(longLine.Get("s", "k")->size(), (64u << 10) - 2);
    EXPECT_EQ(longLine.Get("s", "after"), "1");
}

TEST(ProfileFile, LargeSectionStaysInFileOrder) {
    TempDir dir;
    const fs::path file = dir.path() / "big.ini";
    ProfileFile doc;
    constexpr int kKeys = 20000;
    for (int i = 0; i < kKeys; ++i) {
        doc.WriteString("big", "key" + std::to_string(i), std::to_string(i));
    }
    ASSERT_TRUE(doc.Save(file));
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
