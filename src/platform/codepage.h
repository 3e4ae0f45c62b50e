#pragma once
// Conversion between the program's text (UTF-8 std::string) and bytes from
// outside: datagrams, names from files, the relay's lines.
//
// Received text is decoded as a whole, never character by character, and
// never loses a byte:
//   - with the "ANSI code page", the charset of the environment's locale
//     (UTF-8 for an ASCII-only or missing locale), when every byte of the
//     text decodes with it and encodes back to the same bytes;
//   - otherwise with the fallback charset, a single-byte charset in which
//     every byte is one character (CP1251 unless the Core setting
//     `StrFallbackCharset` names another). So a line from a device that
//     writes CP1251 or Latin-1 reads as that, not half as UTF-8.
// Which of them decoded a text is kept with it as a TextCharset, and
// EncodeAsReceived gives back exactly the bytes that came.
//
// Texts the program writes itself go out with Utf8ToAnsi: a character the
// charset cannot represent becomes '?'.
// All functions are safe to call from any number of threads at once.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace qm::platform {

// Name of the ANSI charset as iconv knows it, e.g. "UTF-8" or "ISO-8859-15".
// Determined once, from LC_ALL / LC_CTYPE / LANG, without touching the
// process's global locale. An ASCII-only locale (C, POSIX) or one that is not
// installed counts as UTF-8.
const std::string& AnsiCharset();

// How a received text was decoded. Small, so every event record can keep it.
using TextCharset = uint8_t;
constexpr TextCharset kUtf8Text = 0;  // well-formed UTF-8, taken as it is

constexpr const char* kDefaultFallbackCharset = "CP1251";
// Takes effect for texts received from now on; texts decoded before keep
// the charset they were decoded with. False (and the fallback stays as it
// was) when iconv does not know `name` or it is not a single-byte charset.
bool SetFallbackCharset(const std::string& name);
std::string FallbackCharset();

// The charset for the parts of one received text: the ANSI charset when
// every part decodes with it exactly, else the fallback.
TextCharset ChooseCharset(std::initializer_list<std::string_view> parts);
// A part decoded with the charset ChooseCharset gave for it.
std::string DecodeWith(std::string_view bytes, TextCharset charset);
// The bytes a text decoded with `charset` came from.
std::string EncodeAsReceived(std::string_view text, TextCharset charset);

// The name of the charset a text was decoded with ("UTF-8", "CP1251", ...),
// valid for the whole run.
std::string_view CharsetName(TextCharset charset);

struct ReceivedText {
    std::string text;
    TextCharset charset = kUtf8Text;
};
ReceivedText DecodeReceived(std::string_view bytes);

// DecodeReceived(bytes).text.
std::string AnsiToUtf8(std::string_view bytes);
std::string Utf8ToAnsi(std::string_view text);

// Explicit charset, any name iconv accepts ("CP1251", "ISO-8859-1", ...);
// nullptr means the ANSI charset. Here a byte that does not decode becomes
// U+FFFD (one per bad byte, then decoding goes on).
// A charset iconv does not know is decoded as UTF-8 and encoded as ASCII,
// so a configuration typo garbles text at worst instead of losing it.
// Invalid UTF-8 in the input of ConvertFromUtf8 becomes '?' per bad byte.
// NUL bytes pass through unchanged.
std::string ConvertToUtf8(std::string_view bytes, const char* charset);
std::string ConvertFromUtf8(std::string_view text, const char* charset);

}  // namespace qm::platform
