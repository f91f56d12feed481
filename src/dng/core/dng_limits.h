// Named limits of the DNG code, each with the reason it exists. Sizes taken
// from a file are checked against these before anything is allocated.
#pragma once

#include <cstdint>

// Every block's data starts on a multiple of this, so pixel rows padded to
// 16 bytes start aligned.
inline constexpr uint32_t dng_block_alignment = 16;

// Bytes allocated past the logical end of every block: room for the
// alignment shift plus slack that lets routines read a little past the end.
inline constexpr uint32_t dng_block_slack = 64;

// A block's size is a uint32 and its raw allocation is size + slack, which
// must not wrap: the largest block that can be made at all.
inline constexpr uint64_t dng_max_block_size = UINT32_MAX - dng_block_slack;

// The largest block an image, a pixel buffer or a decoder band may take.
// Validated images reach 30000 x 30000 samples, so a three-plane 16-bit image
// (5.4 GB) exceeds any 32-bit block; such sizes are refused with 100005
// before allocating. The fuzz build lowers the default so that hostile sizes
// fail fast; tests lower it at run time.
#ifdef CORVELLA_DNG_IMAGE_MEMORY_CAP
inline constexpr uint64_t dng_default_image_memory_cap = CORVELLA_DNG_IMAGE_MEMORY_CAP;
#else
inline constexpr uint64_t dng_default_image_memory_cap = dng_max_block_size;
#endif

// The current cap (never above dng_max_block_size).
uint64_t dng_image_memory_cap();

// Replaces the cap (clamped to dng_max_block_size) and returns the previous
// one. For tests and start-up only; the DNG code runs on one thread.
uint64_t set_dng_image_memory_cap(uint64_t bytes);

// Lossless JPEG: whole bytes of entropy-coded data that may lie unread
// between a stream's last sample and the marker that ends its data. Sound
// encoders leave only the padding bits of their last byte (this program's
// encoder, another open-source writer's and a camera's were measured); the
// allowance also covers a fill byte and a bit writer that flushes whole
// 32-bit words. Damaged data that reaches the last sample early leaves far
// more.
inline constexpr uint32_t ljpeg_max_data_left_over = 4;

// Matrices and vectors hold at most this many rows, columns or entries:
// four colour channels against three XYZ components.
inline constexpr uint32_t dng_max_color_channels = 4;

// Area tasks keep buffers for at most this many threads.
inline constexpr uint32_t dng_max_task_threads = 4;
