#include "archive/attributes.h"

#include <charconv>
#include <limits>

#include "archive/format.h"

namespace attributes {
namespace {

constexpr std::uint32_t kNanosecondDigits = 9;

std::string Escape(std::string_view text) {
    std::string escaped;
    for (char c : text) {
        if (c == '\\') {
            escaped += "\\\\";
        } else if (c == ' ') {
            escaped += "\\s";
        } else if (c == '\n') {
            escaped += "\\n";
        } else {
            escaped += c;
        }
    }
    return escaped;
}

bool Unescape(std::string_view text, std::string& plain) {
    plain.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            plain += text[i];
            continue;
        }
        if (++i == text.size()) return false;
        switch (text[i]) {
            case '\\': plain += '\\'; break;
            case 's': plain += ' '; break;
            case 'n': plain += '\n'; break;
            default: return false;
        }
    }
    return true;
}

bool AllDigits(std::string_view text, bool octal) {
    if (text.empty()) return false;
    for (char c : text) {
        if (c < '0' || c > (octal ? '7' : '9')) return false;
    }
    return true;
}

bool ParseMode(std::string_view value, Attributes& attributes) {
    // Any number of leading zeros; the bits beyond 07777 make no mode.
    if (!AllDigits(value, true)) return false;
    std::uint32_t mode = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), mode, 8);
    if (error != std::errc() || mode > 07777) return false;
    attributes.has_mode = true;
    attributes.mode = mode & kModeBits;
    return true;
}

// "seconds[.nanoseconds]", seconds possibly negative. Well-formed digits that
// no 64-bit count holds make a time that is left unset, not a malformed word.
bool ParseTime(std::string_view value, Attributes& attributes) {
    const std::size_t dot = value.find('.');
    std::string_view whole = value.substr(0, dot);
    const std::string_view fraction = dot == std::string_view::npos ? "" : value.substr(dot + 1);
    const bool negative = !whole.empty() && whole.front() == '-';
    if (negative) whole.remove_prefix(1);
    if (!AllDigits(whole, false)) return false;
    if (dot != std::string_view::npos &&
        (!AllDigits(fraction, false) || fraction.size() > kNanosecondDigits)) {
        return false;
    }
    std::uint64_t magnitude = 0;
    const auto [end, error] = std::from_chars(whole.data(), whole.data() + whole.size(), magnitude);
    attributes.has_time = true;
    attributes.time_fits =
        error == std::errc() && magnitude <= std::uint64_t{std::numeric_limits<std::int64_t>::max()};
    if (!attributes.time_fits) return true;
    attributes.seconds = negative ? -static_cast<std::int64_t>(magnitude)
                                  : static_cast<std::int64_t>(magnitude);
    std::uint32_t nanoseconds = 0;
    for (std::size_t i = 0; i < kNanosecondDigits; ++i) {
        nanoseconds = nanoseconds * 10 + (i < fraction.size() ? fraction[i] - '0' : 0);
    }
    attributes.nanoseconds = nanoseconds;
    return true;
}

bool ParseWord(std::string_view key, std::string_view value, Attributes& attributes) {
    if (key == "mode") return ParseMode(value, attributes);
    if (key == "mtime") return ParseTime(value, attributes);
    if (key == "link") return Unescape(value, attributes.link_target);
    if (key == "type") {
        if (value == "dir") {
            attributes.kind = Kind::Directory;
        } else if (value == "link") {
            attributes.kind = Kind::Link;
        } else {
            return false;
        }
    }
    return true;  // a key this version does not know
}

std::string NanosecondText(std::uint32_t nanoseconds) {
    std::string digits = std::to_string(nanoseconds);
    return std::string(kNanosecondDigits - digits.size(), '0') + digits;
}

std::string OctalText(std::uint32_t value) {
    char digits[16];
    const auto [end, error] = std::to_chars(digits, digits + sizeof digits, value, 8);
    return std::string(digits, end);
}

}  // namespace

std::string Format(const Attributes& attributes) {
    std::string text = "mode=" + OctalText(attributes.mode & kModeBits);
    text += " mtime=" + std::to_string(attributes.seconds) + "." +
            NanosecondText(attributes.nanoseconds);
    if (attributes.kind == Kind::Directory) text += " type=dir";
    if (attributes.kind == Kind::Link) text += " type=link link=" + Escape(attributes.link_target);
    return text;
}

Parsed Parse(std::string_view text) {
    Parsed parsed;
    std::size_t begin = 0;
    while (begin <= text.size()) {
        const std::size_t end = std::min(text.find(' ', begin), text.size());
        const std::string_view word = text.substr(begin, end - begin);
        begin = end + 1;
        if (word.empty()) continue;
        const std::size_t equals = word.find('=');
        if (equals == std::string_view::npos || equals == 0 ||
            !ParseWord(word.substr(0, equals), word.substr(equals + 1), parsed.attributes)) {
            parsed.malformed.emplace_back(word);
        }
    }
    if (parsed.attributes.kind == Kind::Link && parsed.attributes.link_target.empty()) {
        parsed.malformed.emplace_back("type=link");  // a link without a target
    }
    return parsed;
}

std::string RequestField(std::string_view exact_name, Kind kind) {
    std::string exact(exact_name);
    if (kind == Kind::Directory && (exact.empty() || exact.back() != '/')) exact += '/';
    std::string program = exact;
    for (char& c : program) {
        if (c == '/') c = '\\';
    }
    return archive_format::WithAttributes(program, exact, "");
}

std::string ModeText(const Attributes& attributes) {
    if (attributes.kind == Kind::Link) return "lrwxrwxrwx";
    std::string text = attributes.kind == Kind::Directory ? "d" : "-";
    static constexpr char kLetters[] = "rwxrwxrwx";
    for (int bit = 0; bit < 9; ++bit) {
        text += (attributes.mode & (0400u >> bit)) ? kLetters[bit] : '-';
    }
    if (attributes.mode & 01000) text.back() = text.back() == 'x' ? 't' : 'T';
    return text;
}

}  // namespace attributes
