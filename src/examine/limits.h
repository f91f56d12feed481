// Limits of the structure examiner: every count a file can name that would
// otherwise decide how much the examiner reads, allocates or recurses.
#pragma once

#include <cstddef>
#include <cstdint>

namespace examine_limits {

// An entry with more values than this prints "[>5000000 values - not
// displayed]" and is not fetched: the dump could not show them anyway.
inline constexpr uint32_t kMaxValueCount = 5000000;

// A directory keeps at most this many SubIFD offsets; more fail the entry
// with "Too many SubIFDs".
inline constexpr uint32_t kMaxSubIfds = 10;

// Directories one walk may visit (the Next chains, EXIF, GPS and SubIFDs
// together). Multi-page scans run to a few thousand pages; a crafted file
// can pack directories two bytes apart, and each one costs a printed block.
inline constexpr uint32_t kMaxDirectories = 4096;

// Entries one walk may read over all its directories. A directory holds at
// most 65535 entries; overlapping directories would otherwise let a small
// file cost billions of entry reads.
inline constexpr uint32_t kMaxTotalEntries = 1u << 20;

// How deep EXIF, GPS and SubIFD directories may nest below the first one.
// Real files go three or four levels deep (IFD0 > SubIFD > SubIFD, or
// IFD0 > EXIF); each level is one native stack frame of the walk.
inline constexpr int kMaxNestingDepth = 16;

// How deep CIFF blocks may nest below the first one. Cameras write three
// levels (heap > ImageProps > CameraObject > CameraSpecification); each
// level is one native stack frame of the walk.
inline constexpr int kMaxCiffNestingDepth = 8;

// CIFF records one walk may read over all its blocks. A camera writes about
// a hundred; sub-blocks that overlap or share a directory would otherwise
// let a small file multiply its records with every level.
inline constexpr uint32_t kMaxCiffRecords = 4096;

// CIFF record data one walk may read to print values. Only the records the
// dump shows are read (never the image data); a camera's add up to a few
// kilobytes, and shared data would otherwise be printed over and over.
inline constexpr uint64_t kMaxCiffValueBytes = uint64_t{1} << 20;

// Value bytes fetched just to print an entry: 201 ASCII characters or 11
// values of at most 8 bytes. Entries whose whole value is kept (strip
// offsets, XMP, IPTC, maker note) are fetched whole.
inline constexpr size_t kPrintedValueBytes = 256;

// Segments of a JFIF file searched for the EXIF segment.
inline constexpr int kMaxJfifSegments = 100;

// Block headers of a Minolta MRW file searched for the TIFF block.
inline constexpr int kMaxMrwBlocks = 5;

}  // namespace examine_limits
