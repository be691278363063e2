// Constants of the .SPR layout shared by the reader, the writer and the strips, and the checks of
// the unit SprFileU (private to sprite/).
#pragma once

#include "base/Errors.h"

#include <cstddef>
#include <cstdint>

namespace pelfry::sprformat {

constexpr uint8_t HeaderDepth = 8;
constexpr uint8_t HeaderCompressed = 0xC0;
constexpr uint8_t HeaderRaw = 0x80;
constexpr size_t FrameEntrySize = 12;        // Offset (3 bytes), Slot, Left, Top, Right, Bottom
constexpr uint32_t MaxSlots = 256;           // a frame names its slot in one byte
constexpr uint64_t OffsetLimit = 1ull << 24; // a frame's offset is stored in three bytes
constexpr uint32_t SlotLimit = 16384;        // unpacked bytes a slot stays below when it can

// The checks of the unit and the numbers their messages show as "line N" (see CheckSite), for
// all of its files: each number once.
constexpr CheckSite TooManySlots{"SprFileU.cpp", 175};
constexpr CheckSite ReservedWord{"SprFileU.cpp", 182};
constexpr CheckSite SlotsDecrease{"SprFileU.cpp", 185};
constexpr CheckSite BadSlotFlags{"SprFileU.cpp", 191};
constexpr CheckSite SlotPastEnd{"SprFileU.cpp", 225};
constexpr CheckSite SlotOverclaims{"SprFileU.cpp", 228};
constexpr CheckSite SlotTooLarge{"SprFileU.cpp", 231};
constexpr CheckSite FrameOutside{"SprFileU.cpp", 241};
constexpr CheckSite FrameSlotMissing{"SprFileU.cpp", 245};
constexpr CheckSite FramesOverclaim{"SprFileU.cpp", 254};
constexpr CheckSite SlotDecodesMore{"SprFileU.cpp", 268};
constexpr CheckSite SlotDecodesFewer{"SprFileU.cpp", 270};
constexpr CheckSite MadeFrameOutside{"SprFileU.cpp", 313};
constexpr CheckSite MadeFramePixels{"SprFileU.cpp", 316};
constexpr CheckSite NoSuchFrame{"SprFileU.cpp", 341};
constexpr CheckSite SlotTooFull{"SprFileU.cpp", 374};
constexpr CheckSite SlotBeyond4GB{"SprFileU.cpp", 394};
constexpr CheckSite SlotTooLargeToPack{"SprFileU.cpp", 399};
constexpr CheckSite BadPalette{"SprFileU.cpp", 412};
constexpr CheckSite SaveSlotFlags{"SprFileU.cpp", 415};
constexpr CheckSite SaveTooManySlots{"SprFileU.cpp", 440};
constexpr CheckSite SaveFrameSlot{"SprFileU.cpp", 444};
constexpr CheckSite TooManyColours{"SprFileU.cpp", 584};

} // namespace pelfry::sprformat
