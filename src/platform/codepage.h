#pragma once
// Conversion between the program's text (UTF-8 std::string) and the "ANSI
// code page", the byte encoding that senders without a declared charset use.
// On Linux that is the character set of the environment's locale.
//
// Conversions never fail and never shorten the data: a byte that does not
// decode becomes U+FFFD (one per bad byte, then decoding goes on), and a
// character the target charset cannot represent becomes '?'. NUL bytes pass
// through unchanged; whoever stores or displays the text decides about them.
// All functions are safe to call from any number of threads at once.
#include <string>
#include <string_view>

namespace qm::platform {

// Name of the ANSI charset as iconv knows it, e.g. "UTF-8" or "ISO-8859-15".
// Determined once, from LC_ALL / LC_CTYPE / LANG, without touching the
// process's global locale. An ASCII-only locale (C, POSIX) or one that is not
// installed counts as UTF-8.
const std::string& AnsiCharset();

std::string AnsiToUtf8(std::string_view bytes);
std::string Utf8ToAnsi(std::string_view text);

// Explicit charset, any name iconv accepts ("CP1251", "ISO-8859-1", ...);
// nullptr means the ANSI charset.
// A charset iconv does not know is decoded as UTF-8 and encoded as ASCII,
// so a configuration typo garbles text at worst instead of losing it.
// Invalid UTF-8 in the input of ConvertFromUtf8 becomes '?' per bad byte.
std::string ConvertToUtf8(std::string_view bytes, const char* charset);
std::string ConvertFromUtf8(std::string_view text, const char* charset);

}  // namespace qm::platform
