#pragma once
// printf-style formatting that cannot be misused: arguments carry their types,
// a format whose conversions don't fit the arguments is refused, and %n or a
// '*' width is never honoured. Texts from the language file and from settings
// can therefore be used as formats without trusting them.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace qm::core {

enum class ArgKind : uint8_t { Integer, Float, String };

struct FormatArg {
    ArgKind kind = ArgKind::Integer;
    bool isSigned = false;
    uint64_t bits = 0;   // integer value (two's complement when signed)
    double real = 0;
    std::string_view text;

    template <typename T>
    static FormatArg From(const T& v) {
        FormatArg a{};
        if constexpr (std::is_same_v<T, bool>) {
            a.kind = ArgKind::Integer;
            a.bits = v ? 1 : 0;
        } else if constexpr (std::is_integral_v<T> || std::is_enum_v<T>) {
            a.kind = ArgKind::Integer;
            a.isSigned = std::is_signed_v<T>;
            a.bits = static_cast<uint64_t>(static_cast<std::conditional_t<std::is_signed_v<T>, int64_t, uint64_t>>(v));
        } else if constexpr (std::is_floating_point_v<T>) {
            a.kind = ArgKind::Float;
            a.real = static_cast<double>(v);
        } else {
            a.kind = ArgKind::String;
            a.text = std::string_view(v);
        }
        return a;
    }
};

// The argument kinds a format expects, in order; nothing when the format holds
// a conversion the program never uses (%n, %*d, an unknown letter) or ends in
// the middle of one.
std::optional<std::vector<ArgKind>> FormatSignature(std::string_view format);

// Formats, or returns nothing when the format's signature doesn't match `args`.
// With `allowUnusedArgs` a format may stop short of the last arguments, as a
// user's file-name format that leaves out the seconds does.
std::optional<std::string> FormatText(std::string_view format, std::span<const FormatArg> args,
                                      bool allowUnusedArgs = false);

// True when `format` takes the first `expected.size()` or fewer of these kinds, in order.
bool FormatTakesPrefixOf(std::string_view format, std::span<const ArgKind> expected);

template <typename... Args>
std::optional<std::string> Format(std::string_view format, const Args&... args) {
    const FormatArg list[] = {FormatArg::From(args)..., FormatArg{}};
    return FormatText(format, std::span<const FormatArg>(list, sizeof...(Args)));
}

}  // namespace qm::core
