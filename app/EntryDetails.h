// What an archive entry (or a game file) is, told from its bytes: the text of the list's
// tooltips in the window and of `pelfry-cli info`. No toolkit here.
#pragma once

#include <string>
#include <string_view>

namespace pelfry {

class Stream;

// One line describing `data`, read as its name's kind says (".IMG", ".SPR", ASCII case
// ignored) without changing anything:
//   "Image, 320 x 200, 60 colours, compressed, 12,345 bytes"
//   "Sprite, 48 x 32, 8 frames at 10 frames per second, ping-pong, compressed, 3,412 bytes"
//   "not a valid image, 17 bytes" (or "sprite") when the bytes cannot be read as their kind
//   "12,345 bytes" for an entry of any other kind.
// Colours count the background; the frame rate is the one stored. `groupSeparator` goes
// between groups of three digits of the size.
std::string DescribeEntry(std::string_view name, Stream& data,
                          std::string_view groupSeparator = ",");

} // namespace pelfry
