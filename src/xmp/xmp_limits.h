// Limits of the XMP toolkit: every size a packet can choose that would
// otherwise decide how deep the toolkit recurses or how much it builds.
#pragma once

#include <cstddef>
#include <cstdint>

namespace xmp_limits {

// Digits read for one number of a date text (year, month, day, hour,
// minute, second, zone hour, zone minute). Nine digits always fit a signed
// 32-bit field; a tenth could overflow it, and an absurd day or year would
// make date normalisation step month by month for millions of rounds.
inline constexpr int kMaxDateFieldDigits = 9;

// Digits of a fraction of a second that carry meaning: nanoseconds. Any
// further digits are read and ignored.
inline constexpr int kFractionDigits = 9;

// Element depth of a packet. The element tree, the RDF grammar, the repairs
// after parsing, the serialiser and the destructors all recurse once per
// level; real packets nest fewer than 20 levels, and 512 keeps every walk
// far inside the worker's stack.
inline constexpr size_t kMaxXmlDepth = 512;

// Elements, attributes, texts and processing instructions of one parse. A
// DNG's packet holds a few thousand; the cap bounds the memory and time a
// hostile packet can take.
inline constexpr size_t kMaxXmlNodes = 1000000;

}  // namespace xmp_limits
