// Text helpers: number parsing and formatting, trimming and ASCII case.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pelfry {

// Parses a whole number that fits in 32 bits: decimal with an optional sign, or hexadecimal
// after "$" or "0x" (up to FFFFFFFF, taken as the same 32 bits). Raises ConvertError
// ("'%s' is not a valid integer value" with `text`) for anything else, the empty text included.
int32_t StrToInt(std::string_view text);

// The general floating format with up to 15 significant digits: plain decimals for values
// from 0.0001 up to below 1e15, otherwise a mantissa, "E" and the exponent with a sign only
// when negative and no leading zeros; trailing zeros dropped. 1/86400 gives "1.15740740740741E-5".
// The C library's locale plays no part: the decimal separator is `decimalSeparator` (the
// user's, which the GUI knows), so 1/86400 gives "1,15740740740741E-5" with ",".
std::string FormatG(double value, std::string_view decimalSeparator = ".");

// A whole number with `groupSeparator` between groups of three digits: 12345 -> "12,345".
std::string FormatThousands(uint64_t value, std::string_view groupSeparator = ",");

// Removes spaces and control characters (bytes up to 32) from both ends.
std::string Trim(std::string_view text);

// Upper-cases the ASCII letters a-z only; every other byte stays as it is.
std::string UpperCaseAscii(std::string_view text);

// The last four characters of `name` upper-cased with ASCII rules; the whole name when it is
// shorter. The kind of a game file is told by this (".IMG", ".SPR", ".BMP", ".SPD").
std::string FileKind(std::string_view name);

// Splits the bytes of a text file into lines: a line ends at CR LF, at a lone CR or at a lone
// LF; a last line without an end still counts; the byte `endOfText` ends the text wherever it
// stands (0x00 for conversion logs, 26 for sprite descriptions).
std::vector<std::string> SplitTextLines(const std::vector<uint8_t>& bytes, uint8_t endOfText = 0);

// The lines as a text file holds them, each followed by CR LF.
std::vector<uint8_t> TextLinesBytes(const std::vector<std::string>& lines);

} // namespace pelfry
