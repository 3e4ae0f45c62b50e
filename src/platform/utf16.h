#pragma once
// Conversions between the program's internal text (UTF-8 in std::string) and
// UTF-16, which is what Windows-compatible files, lengths and buffer
// capacities are measured in.
//
// Nothing here ever fails or drops input: every byte that is not part of a
// well-formed UTF-8 sequence (including overlong forms, encoded surrogates
// and values above U+10FFFF) becomes one U+FFFD, and every unpaired UTF-16
// surrogate becomes one U+FFFD. Counting and truncation treat such a byte as
// the one UTF-16 unit it would convert to, so all functions agree.
#include <cstddef>
#include <string>
#include <string_view>

namespace qm::platform {

std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view u16);

// Little-endian UTF-16 as raw bytes, without a byte order mark.
std::string Utf8ToUtf16LEBytes(std::string_view utf8);
void AppendUtf16LEBytes(std::string& out, std::string_view utf8);
// An odd trailing byte cannot be a unit and becomes U+FFFD.
std::string Utf16LEBytesToUtf8(std::string_view bytes);

// The program's one UTF-8 check: the length of the well-formed sequence at
// the start of `bytes`, or 0 when there is none (or `bytes` is empty).
size_t Utf8SequenceLength(std::string_view bytes);
// Length of the leading run of ASCII bytes, looked at eight at a time: log
// lines are mostly ASCII, and ASCII needs no conversion anywhere.
size_t AsciiPrefix(std::string_view bytes);
bool IsValidUtf8(std::string_view bytes);

constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";  // U+FFFD
// Always returns well-formed UTF-8; input that already is comes back
// unchanged, and each bad byte becomes one `replacement`.
std::string SanitizeUtf8(std::string_view bytes, std::string_view replacement = kReplacementUtf8);

size_t Utf16Length(std::string_view utf8);

// The longest byte prefix of utf8 that fits in maxUnits UTF-16 units and ends
// on a character boundary; a character needing a surrogate pair is kept or
// dropped whole. The prefix is not sanitized: invalid bytes in it stay as
// they were (each counted as one unit).
std::string TruncateUtf16(std::string_view utf8, size_t maxUnits);

}  // namespace qm::platform
