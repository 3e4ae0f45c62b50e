#pragma once
// A charset in which every byte is one character, held as two tables, so
// that decoding is a lookup per byte and encoding the decoded text gives
// back exactly the bytes it came from. Bytes the charset leaves undefined
// (0x98 in CP1251) still get a character of their own: the Latin-1 one of
// the same value, or one from the private use area when that is taken.
// Immutable after Build; safe to use from any number of threads.
#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qm::platform {

class SingleByteCharset {
public:
    // nullptr when iconv does not know `name` or it is not single-byte
    // (a byte that only begins a character, as in UTF-8 or UTF-16).
    static std::unique_ptr<SingleByteCharset> Build(const std::string& name);
    // Byte b is U+00b: needs no iconv, so it is always there.
    static std::unique_ptr<SingleByteCharset> Latin1();
    // codePoints[b] is what byte b decodes to; all 256 must differ.
    SingleByteCharset(std::string name, const std::array<char32_t, 256>& codePoints);

    const std::string& Name() const { return name_; }
    std::string Decode(std::string_view bytes) const;
    // The inverse of Decode; a character Decode never gives becomes '?'.
    std::string Encode(std::string_view utf8) const;

private:
    struct Utf8Char {
        char bytes[4];
        unsigned char length;
    };
    std::string name_;
    std::array<Utf8Char, 256> decode_{};
    std::vector<std::pair<char32_t, unsigned char>> encode_;  // sorted by code point
};

}  // namespace qm::platform
