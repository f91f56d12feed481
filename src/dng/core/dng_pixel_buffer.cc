#include "dng/core/dng_pixel_buffer.h"

#include <algorithm>
#include <cstdlib>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_pixel_kernels.h"
#include "dng/core/dng_tag_types.h"

namespace {

int64_t extent_of(const uint32_t counts[3], const int64_t steps[3]) {
  int64_t e = 0;
  for (int d = 0; d < 3; ++d) e += std::llabs(steps[d]) * (int64_t(counts[d]) - 1);
  return e;
}

// The selected planes and the area lie inside the buffer; otherwise the
// caller misused it (100000).
void require_inside(const dng_pixel_buffer& b, const dng_box& area, uint32_t first_plane,
                    uint32_t plane_count) {
  if (!b.area.Contains(area) || first_plane < b.plane ||
      uint64_t(first_plane) + plane_count > uint64_t(b.plane) + b.planes) {
    throw_dng_code(dng_code_unknown);
  }
}

bool one_run(const dng_area_loops& l, uint32_t buffers) {
  if (l.count[0] != 1 || l.count[1] != 1) return false;
  for (uint32_t b = 0; b < buffers; ++b)
    if (l.step[b][2] != 1) return false;
  return true;
}

}  // namespace

uint32_t dng_pixel_buffer::SampleRange() const {
  if (pixel_range != 0) return pixel_range;
  switch (pixel_type) {
    case dng_type_byte:
    case dng_type_sbyte:
      return 255;
    case dng_type_short:
    case dng_type_sshort:
      return 65535;
    case dng_type_long:
    case dng_type_slong:
      return 0xFFFFFFFF;
    default:
      return 0;
  }
}

dng_replication_phase replication_phase(const dng_box& pattern, const dng_box& dst) {
  dng_replication_phase phase;
  const int64_t h = pattern.H(), w = pattern.W();
  if (h > 0) phase.row = uint32_t(((int64_t(dst.top) - pattern.top) % h + h) % h);
  if (w > 0) phase.col = uint32_t(((int64_t(dst.left) - pattern.left) % w + w) % w);
  return phase;
}

dng_area_loops order_area_loops(uint32_t rows, uint32_t cols, uint32_t planes, uint32_t buffers,
                                void* data0, uint32_t size0, int32_t row0, int32_t col0,
                                int32_t plane0, void* data1, uint32_t size1, int32_t row1,
                                int32_t col1, int32_t plane1) {
  dng_area_loops loops;
  const uint32_t counts[3] = {rows, cols, planes};
  int64_t steps[2][3] = {{row0, col0, plane0}, {row1, col1, plane1}};
  uint8_t* data[2] = {static_cast<uint8_t*>(data0), static_cast<uint8_t*>(data1)};
  const uint32_t sizes[2] = {size0, size1};
  if (rows == 0 || cols == 0 || planes == 0) {
    loops.count[0] = loops.count[1] = loops.count[2] = 0;
    loops.data[0] = data[0];
    loops.data[1] = data[1];
    return loops;
  }

  // 1. The dominant buffer spans more memory (the second one on a tie).
  const int dom = (buffers == 2 && extent_of(counts, steps[1]) >= extent_of(counts, steps[0])) ? 1 : 0;

  // 2. Walk every dimension of the dominant buffer forwards.
  for (int d = 0; d < 3; ++d) {
    if (steps[dom][d] >= 0) continue;
    for (uint32_t b = 0; b < buffers; ++b) {
      data[b] += (int64_t(counts[d]) - 1) * steps[b][d] * int64_t(sizes[b]);
      steps[b][d] = -steps[b][d];
    }
  }

  // 3. Largest step outermost; a count of 1 counts as the largest step.
  int order[3] = {0, 1, 2};
  auto key = [&](int d) { return counts[d] == 1 ? INT64_MAX : steps[dom][d]; };
  std::stable_sort(order, order + 3, [&](int a, int b) { return key(a) > key(b); });
  for (int i = 0; i < 3; ++i) {
    loops.count[i] = counts[order[i]];
    for (uint32_t b = 0; b < buffers; ++b) loops.step[b][i] = int32_t(steps[b][order[i]]);
  }

  // 4. Merge loops that continue each other in every buffer.
  auto continues = [&](int inner, int outer) {
    for (uint32_t b = 0; b < buffers; ++b)
      if (int64_t(loops.count[inner]) * loops.step[b][inner] != loops.step[b][outer]) return false;
    return true;
  };
  if (continues(1, 0)) {
    loops.count[1] *= loops.count[0];
    loops.count[0] = 1;
  }
  if (continues(2, 1)) {
    loops.count[2] *= loops.count[1];
    loops.count[1] = 1;
  }
  loops.data[0] = data[0];
  loops.data[1] = data[1];
  return loops;
}

void dng_pixel_buffer::ClearArea(const dng_box& clear_area, uint32_t first_plane,
                                 uint32_t plane_count) {
  if (pixel_type != dng_type_byte && pixel_type != dng_type_short && pixel_type != dng_type_long &&
      pixel_type != dng_type_sshort && pixel_type != dng_type_float) {
    throw_dng_code(dng_code_not_implemented);
  }
  if (clear_area.IsEmpty() || plane_count == 0) return;
  require_inside(*this, clear_area, first_plane, plane_count);
  const dng_area_loops l =
      order_area_loops(clear_area.H(), clear_area.W(), plane_count, 1,
                       Pixel(clear_area.top, clear_area.left, first_plane), pixel_size, row_step,
                       col_step, plane_step);
  const uint64_t run_bytes = uint64_t(l.count[2]) * pixel_size;
  if (pixel_type == dng_type_sshort) {
    dng_pixel_kernels.FillAreaU16(l.data[0], 0x8000, l.count[0], l.count[1], l.count[2],
                                  l.step[0][0], l.step[0][1], l.step[0][2]);
  } else if (one_run(l, 1) && run_bytes <= UINT32_MAX) {
    dng_pixel_kernels.ClearBytes(l.data[0], uint32_t(run_bytes));
  } else {
    const dng_fill_area_fn fill = pixel_size == 1   ? dng_pixel_kernels.FillAreaU8
                                  : pixel_size == 2 ? dng_pixel_kernels.FillAreaU16
                                                    : dng_pixel_kernels.FillAreaU32;
    fill(l.data[0], 0, l.count[0], l.count[1], l.count[2], l.step[0][0], l.step[0][1],
         l.step[0][2]);
  }
}

void dng_pixel_buffer::CopyAreaFrom(const dng_pixel_buffer& src, const dng_box& copy_area,
                                    uint32_t first_plane, uint32_t plane_count) {
  if (copy_area.IsEmpty() || plane_count == 0) return;
  require_inside(src, copy_area, first_plane, plane_count);
  require_inside(*this, copy_area, first_plane, plane_count);
  // Buffer 0 is the source, buffer 1 this one.
  const dng_area_loops l = order_area_loops(
      copy_area.H(), copy_area.W(), plane_count, 2,
      src.Pixel(copy_area.top, copy_area.left, first_plane), src.pixel_size, src.row_step,
      src.col_step, src.plane_step, Pixel(copy_area.top, copy_area.left, first_plane), pixel_size,
      row_step, col_step, plane_step);
  const uint32_t* n = l.count;
  const int32_t* s = l.step[0];
  const int32_t* d = l.step[1];
  auto blit = [&](dng_blit_area_fn fn, int32_t source_scale = 1) {
    fn(l.data[0], l.data[1], n[0], n[1], n[2], s[0] * source_scale, s[1] * source_scale,
       s[2] * source_scale, d[0], d[1], d[2]);
  };
  auto blit_range = [&](dng_blit_range_fn fn, uint32_t range) {
    fn(l.data[0], l.data[1], n[0], n[1], n[2], s[0], s[1], s[2], d[0], d[1], d[2], range);
  };
  const dng_pixel_kernel_table& k = dng_pixel_kernels;

  if (src.pixel_type == pixel_type) {
    const uint64_t run_bytes = uint64_t(n[2]) * pixel_size;
    if (pixel_size != 1 && pixel_size != 2 && pixel_size != 4) throw_dng_code(dng_code_not_implemented);
    if (one_run(l, 2) && run_bytes <= UINT32_MAX) {
      k.CopyBlock(l.data[0], l.data[1], uint32_t(run_bytes));
    } else {
      blit(pixel_size == 1 ? k.BlitAreaU8 : pixel_size == 2 ? k.BlitAreaU16 : k.BlitAreaU32);
    }
    return;
  }

  // Narrowing copies keep the low-order byte or half of each sample, which
  // on this little-endian machine is the first in memory.
  switch (src.pixel_type) {
    case dng_type_byte:
      switch (pixel_type) {
        case dng_type_short: return blit(k.BlitAreaU8ToU16);
        case dng_type_long: return blit(k.BlitAreaU8ToU32);
        case dng_type_sshort: return blit(k.BlitAreaU8ToS16);
        case dng_type_float: return blit_range(k.BlitAreaU8ToFloat, src.SampleRange());
      }
      break;
    case dng_type_short:
      switch (pixel_type) {
        case dng_type_byte: return blit(k.BlitAreaU8, 2);
        case dng_type_long: return blit(k.BlitAreaU16ToU32);
        case dng_type_sshort: return blit(k.BlitAreaU16ToS16);
        case dng_type_float: return blit_range(k.BlitAreaU16ToFloat, src.SampleRange());
      }
      break;
    case dng_type_long:
      switch (pixel_type) {
        case dng_type_byte: return blit(k.BlitAreaU8, 4);
        case dng_type_short: return blit(k.BlitAreaU16, 2);
      }
      break;
    case dng_type_sshort:
      switch (pixel_type) {
        case dng_type_byte: return blit(k.BlitAreaU8, 2);
        case dng_type_short: return blit(k.BlitAreaU16ToS16);
        case dng_type_float: return blit_range(k.BlitAreaS16ToFloat, src.SampleRange());
      }
      break;
    case dng_type_float:
      switch (pixel_type) {
        case dng_type_byte: return blit_range(k.BlitAreaFloatToU8, SampleRange());
        case dng_type_short: return blit_range(k.BlitAreaFloatToU16, SampleRange());
        case dng_type_sshort: return blit_range(k.BlitAreaFloatToS16, SampleRange());
      }
      break;
  }
  throw_dng_code(dng_code_not_implemented);
}

void dng_pixel_buffer::ReplicateArea(const dng_box& pattern_area, const dng_box& dst_area) {
  if (pixel_size != 1 && pixel_size != 2 && pixel_size != 4) throw_dng_code(dng_code_not_implemented);
  if (dst_area.IsEmpty() || pattern_area.IsEmpty() || planes == 0) return;
  require_inside(*this, pattern_area, plane, planes);
  require_inside(*this, dst_area, plane, planes);
  const dng_replication_phase phase = replication_phase(pattern_area, dst_area);
  const dng_replicate_area_fn fn = pixel_size == 1   ? dng_pixel_kernels.ReplicateAreaU8
                                   : pixel_size == 2 ? dng_pixel_kernels.ReplicateAreaU16
                                                     : dng_pixel_kernels.ReplicateAreaU32;
  fn(Pixel(pattern_area.top, pattern_area.left, plane), Pixel(dst_area.top, dst_area.left, plane),
     dst_area.H(), dst_area.W(), planes, row_step, col_step, plane_step, pattern_area.H(),
     pattern_area.W(), phase.row, phase.col);
}

void dng_pixel_buffer::ShiftValuesDown(uint32_t bits) {
  if (pixel_type != dng_type_short) throw_dng_code(dng_code_not_implemented);
  if (area.IsEmpty() || planes == 0) return;
  const dng_area_loops l = order_area_loops(area.H(), area.W(), planes, 1, data, pixel_size,
                                            row_step, col_step, plane_step);
  dng_pixel_kernels.ShiftDownU16(l.data[0], l.count[0], l.count[1], l.count[2], l.step[0][0],
                                 l.step[0][1], l.step[0][2], bits);
}
