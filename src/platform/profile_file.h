#pragma once
// Settings files in the Windows private-profile (INI) format, read and written
// with the same rules Windows applies, so files move between the two
// unchanged in meaning.
//
// Reading: "[section]" and "key=value" lines; names compare ASCII
// case-insensitively; whitespace around names and values is trimmed; a value
// wrapped in matching '"' or '\'' quotes reads without them; lines starting
// with ';', lines without '=' and lines before the first section are ignored
// (but kept on rewrite). Within a section the first occurrence of a key wins,
// and of a section name repeated in the file only the first block is seen.
// A file may be UTF-8 (with or without BOM) or UTF-16LE with BOM, with LF or
// CRLF line ends; undecodable bytes read as U+FFFD. Only the first 64 MiB of a
// file and the first 64 KiB of each line are read; the rest is ignored.
//
// Writing: UTF-8 without BOM and LF line ends (Windows' reader accepts both).
// Untouched lines are written back as they were read (re-encoded as UTF-8).
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qm::platform {

class ProfileFile {
public:
    // A missing or unreadable file gives an empty document.
    static ProfileFile Load(const std::filesystem::path& path);
    // Like Load, but only a missing file counts as empty; any other failure
    // (no permission, a directory, I/O error) returns nullopt with errno set,
    // so a caller about to rewrite the file does not replace settings it
    // merely could not read.
    static std::optional<ProfileFile> TryLoad(const std::filesystem::path& path);

    bool HasSection(std::string_view section) const;
    std::optional<std::string> Get(std::string_view section, std::string_view key) const;

    // capacityUtf16 counts UTF-16 units including a terminator, as a Windows
    // buffer would, so at most capacityUtf16 - 1 units come back. Missing -> "".
    std::string ReadString(std::string_view section, std::string_view key,
                           size_t capacityUtf16) const;
    // Hex text of size bytes plus a trailing checksum byte; nullopt when the
    // key is missing or the text is malformed or fails the checksum.
    std::optional<std::vector<uint8_t>> ReadStruct(std::string_view section,
                                                   std::string_view key, size_t size) const;
    // Optional sign and leading decimal digits, saturating at the int range;
    // a value without digits is 0, a missing key is defaultValue.
    int ReadInt(std::string_view section, std::string_view key, int defaultValue) const;

    // Adds the section at the end and the key after the section's last key
    // when missing; otherwise replaces the first occurrence in place. CR and LF
    // in the value are stored as spaces, because a line break would end the
    // value early and let the rest be read as a separate (forged) key. A value
    // that trimming or unquoting would alter is written inside double quotes
    // so it reads back exactly. Returns false, changing nothing, for a name the
    // format cannot hold: empty, containing CR/LF, a key containing '=' or
    // starting with ';' or '[', a section containing ']'.
    bool WriteString(std::string_view section, std::string_view key, std::string_view value);
    bool WriteStruct(std::string_view section, std::string_view key,
                     std::span<const uint8_t> bytes);
    // Removes every key line of the section (in all its blocks) but keeps its
    // header and comment lines; creates the section when missing, so it exists
    // afterwards.
    bool EmptySection(std::string_view section);

    // Distinct names as spelled at their first occurrence, in file order.
    std::vector<std::string> Keys(std::string_view section) const;
    std::vector<std::string> Sections() const;

    // The whole document as it would be saved.
    std::string Serialize() const;
    // Writes a temporary file beside path, syncs it and renames it over path,
    // so readers see the old or the new document, never a mix. The folder must
    // exist. An existing file's permission bits are kept; a new file gets 0600
    // as settings may hold credentials. A symlink at path is replaced, not
    // followed. On failure the old file is untouched, no temporary file is
    // left, and false is returned with errno describing the cause.
    bool Save(const std::filesystem::path& path) const;

private:
    struct Line {
        std::string text;  // exactly as written to disk
        // For key lines, where key and value sit inside text.
        size_t keyPos = 0, keyLen = 0, valuePos = 0, valueLen = 0;
        bool isKey = false;
        std::string_view Key() const { return std::string_view(text).substr(keyPos, keyLen); }
        std::string_view Value() const {
            return std::string_view(text).substr(valuePos, valueLen);
        }
    };
    struct Section {
        std::string header;
        std::string name;
        std::vector<Line> lines;
        std::unordered_map<std::string, size_t> keyIndex;  // lowered key -> first line
        std::optional<size_t> lastKey;
    };

    static Line ParseLine(std::string text);
    void AddLine(std::string text);
    const Line* Find(std::string_view section, std::string_view key) const;
    Section& SectionForWrite(std::string_view name);

    std::vector<std::string> preamble_;  // lines before the first section
    std::vector<Section> sections_;
    std::unordered_map<std::string, size_t> sectionIndex_;  // lowered name -> first block
};

// One-call forms of the private-profile functions. Each loads the file; the
// writers then save it atomically and return false (errno set) when the file
// exists but cannot be read, a name is unusable (EINVAL) or saving fails.
// Read-modify-write cycles are serialized within this process only.
std::string GetPrivateProfileString(const std::filesystem::path& file, std::string_view section,
                                    std::string_view key, size_t capacityUtf16);
bool WritePrivateProfileString(const std::filesystem::path& file, std::string_view section,
                               std::string_view key, std::string_view value);
std::optional<std::vector<uint8_t>> GetPrivateProfileStruct(const std::filesystem::path& file,
                                                            std::string_view section,
                                                            std::string_view key, size_t size);
bool WritePrivateProfileStruct(const std::filesystem::path& file, std::string_view section,
                               std::string_view key, std::span<const uint8_t> bytes);
int GetPrivateProfileInt(const std::filesystem::path& file, std::string_view section,
                         std::string_view key, int defaultValue);

}  // namespace qm::platform
