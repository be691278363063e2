#include "Text.h"

#include "Errors.h"

#include <charconv>
#include <cmath>

namespace pelfry {

static int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

int32_t StrToInt(std::string_view text) {
    std::string_view s = text;
    bool negative = false;
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    bool hex = false;
    if (!s.empty() && s[0] == '$') {
        hex = true;
        s.remove_prefix(1);
    } else if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        hex = true;
        s.remove_prefix(2);
    }
    if (s.empty()) throw ConvertError(text);
    uint64_t value = 0;
    for (char c : s) {
        int d = hex ? HexDigit(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
        if (d < 0) throw ConvertError(text);
        value = value * (hex ? 16 : 10) + static_cast<uint64_t>(d);
        if (value > 0xFFFFFFFFull) throw ConvertError(text);
    }
    if (hex) {
        uint32_t bits = static_cast<uint32_t>(value);
        if (negative) bits = 0u - bits;
        return static_cast<int32_t>(bits);
    }
    if (negative) {
        if (value > 2147483648ull) throw ConvertError(text);
        return static_cast<int32_t>(-static_cast<int64_t>(value));
    }
    if (value > 2147483647ull) throw ConvertError(text);
    return static_cast<int32_t>(value);
}

std::string FormatG(double value, std::string_view decimalSeparator) {
    if (value == 0 || !std::isfinite(value))
        return value == 0 ? "0" : (std::isnan(value) ? "NAN" : (value > 0 ? "INF" : "-INF"));
    // Round to 15 significant digits first; the exponent of the rounded value decides the form.
    // to_chars writes the C locale's digits whatever locale the C library was switched to (a
    // GUI toolkit switches it to the user's, whose decimal point may be a comma).
    char buf[64];
    const std::to_chars_result written =
        std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 14);
    std::string s(buf, written.ptr);
    size_t e = s.find('e');
    int exponent = 0;
    std::from_chars(s.data() + e + 1 + (s[e + 1] == '+' ? 1 : 0), s.data() + s.size(), exponent);
    std::string mantissa = s.substr(0, e);
    bool negative = mantissa[0] == '-';
    if (negative) mantissa.erase(0, 1);
    std::string digits;
    for (char c : mantissa)
        if (c != '.') digits += c;
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();
    std::string out = negative ? "-" : "";
    if (exponent < -4 || exponent >= 15) {
        out += digits[0];
        if (digits.size() > 1) {
            out += decimalSeparator;
            out.append(digits, 1);
        }
        out += 'E';
        out += std::to_string(exponent);
    } else if (exponent < 0) {
        out += "0";
        out += decimalSeparator;
        out += std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
    } else {
        size_t intDigits = static_cast<size_t>(exponent) + 1;
        if (digits.size() <= intDigits) {
            out += digits + std::string(intDigits - digits.size(), '0');
        } else {
            out += digits.substr(0, intDigits);
            out += decimalSeparator;
            out += digits.substr(intDigits);
        }
    }
    return out;
}

std::string FormatThousands(uint64_t value, std::string_view groupSeparator) {
    const std::string digits = std::to_string(value);
    std::string out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += groupSeparator;
        out += digits[i];
    }
    return out;
}

std::string Trim(std::string_view text) {
    size_t b = 0, e = text.size();
    while (b < e && static_cast<unsigned char>(text[b]) <= ' ')
        ++b;
    while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ')
        --e;
    return std::string(text.substr(b, e - b));
}

std::string UpperCaseAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

std::string FileKind(std::string_view name) {
    if (name.size() < 4) return UpperCaseAscii(name);
    return UpperCaseAscii(name.substr(name.size() - 4));
}

std::vector<std::string> SplitTextLines(const std::vector<uint8_t>& bytes, uint8_t endOfText) {
    std::vector<std::string> lines;
    const size_t size = bytes.size();
    size_t at = 0;
    // The end-of-text byte ends the text wherever it stands, also right after a line end.
    while (at < size && bytes[at] != endOfText) {
        const size_t start = at;
        while (at < size && bytes[at] != endOfText && bytes[at] != '\r' && bytes[at] != '\n')
            ++at;
        lines.emplace_back(reinterpret_cast<const char*>(bytes.data()) + start, at - start);
        if (at < size && bytes[at] == '\r') ++at;
        if (at < size && bytes[at] == '\n') ++at;
    }
    return lines;
}

std::vector<uint8_t> TextLinesBytes(const std::vector<std::string>& lines) {
    std::vector<uint8_t> bytes;
    for (const std::string& line : lines) {
        bytes.insert(bytes.end(), line.begin(), line.end());
        bytes.push_back('\r');
        bytes.push_back('\n');
    }
    return bytes;
}

} // namespace pelfry
