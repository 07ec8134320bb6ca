#include "media/h264_sps_parser.h"

namespace korvela {

namespace {

// Most-significant-bit-first reader over the RBSP of a NAL unit: a 0x03 that
// follows two zero bytes is an emulation-prevention byte (7.4.1) and skipped.
// Any read past the end sets the failure flag; callers check it once.
class RbspBitReader {
 public:
  explicit RbspBitReader(std::span<const uint8_t> data) : data_(data) {}

  bool failed() const { return failed_; }

  uint32_t Bit() {
    if (bit_ == 8 && !LoadByte()) return 0;
    return (current_ >> (7 - bit_++)) & 1u;
  }

  uint32_t Bits(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 1) | Bit();
    return v;
  }

  // ue(v) (9.1); codes longer than 32 bits do not occur in a valid SPS.
  uint32_t Ue() {
    int zeros = 0;
    while (Bit() == 0) {
      if (failed_ || ++zeros > 31) {
        failed_ = true;
        return 0;
      }
    }
    return static_cast<uint32_t>((uint64_t{1} << zeros) - 1 + Bits(zeros));
  }

  // se(v) (9.1.1).
  int32_t Se() {
    const uint32_t k = Ue();
    const auto magnitude = static_cast<int32_t>((k + 1) / 2);
    return (k & 1u) != 0 ? magnitude : -magnitude;
  }

  void Fail() { failed_ = true; }

 private:
  bool LoadByte() {
    if (pos_ < data_.size() && zeros_ >= 2 && data_[pos_] == 0x03) {
      ++pos_;
      zeros_ = 0;
    }
    if (pos_ >= data_.size()) {
      failed_ = true;
      return false;
    }
    current_ = data_[pos_++];
    zeros_ = current_ == 0 ? zeros_ + 1 : 0;
    bit_ = 0;
    return true;
  }

  std::span<const uint8_t> data_;
  size_t pos_ = 0;
  int zeros_ = 0;  // zero bytes just read, for the emulation-prevention rule
  uint8_t current_ = 0;
  int bit_ = 8;  // next bit of current_; 8 = load the next byte first
  bool failed_ = false;
};

// Profiles whose SPS carries chroma format, bit depths and scaling lists.
bool HasChromaFields(uint32_t profile_idc) {
  switch (profile_idc) {
    case 100:
    case 110:
    case 122:
    case 244:
    case 44:
    case 83:  // clang-format off
    case 86: case 118: case 128: case 138: case 139: case 134: case 135:
      return true;  // clang-format on
    default:
      return false;
  }
}

// scaling_list() (7.3.2.1.1.1): only read past, the values are not needed.
void SkipScalingList(RbspBitReader& r, int size) {
  int last = 8;
  int next = 8;
  for (int j = 0; j < size && !r.failed(); ++j) {
    if (next != 0) {
      const int32_t delta = r.Se();
      if (delta < -128 || delta > 127) r.Fail();
      next = (last + delta + 256) % 256;
    }
    last = next == 0 ? last : next;
  }
}

}  // namespace

std::optional<H264PictureSize> ParseSpsPictureSize(std::span<const uint8_t> nal) {
  if (nal.empty() || NalType(nal[0]) != kNalSps) return std::nullopt;
  RbspBitReader r(nal.subspan(1));
  const uint32_t profile_idc = r.Bits(8);
  r.Bits(8);                             // constraint_set flags, reserved bits
  r.Bits(8);                             // level_idc
  if (r.Ue() > 31) return std::nullopt;  // seq_parameter_set_id

  uint32_t chroma_format_idc = 1;  // 4:2:0 unless the profile says otherwise
  bool separate_colour_planes = false;
  if (HasChromaFields(profile_idc)) {
    chroma_format_idc = r.Ue();
    if (chroma_format_idc > 3) return std::nullopt;
    if (chroma_format_idc == 3) separate_colour_planes = r.Bit() != 0;
    r.Ue();              // bit_depth_luma_minus8
    r.Ue();              // bit_depth_chroma_minus8
    r.Bit();             // qpprime_y_zero_transform_bypass_flag
    if (r.Bit() != 0) {  // seq_scaling_matrix_present_flag
      const int lists = chroma_format_idc != 3 ? 8 : 12;
      for (int i = 0; i < lists && !r.failed(); ++i) {
        if (r.Bit() != 0) SkipScalingList(r, i < 6 ? 16 : 64);
      }
    }
  }
  r.Ue();  // log2_max_frame_num_minus4
  const uint32_t pic_order_cnt_type = r.Ue();
  if (pic_order_cnt_type == 0) {
    r.Ue();  // log2_max_pic_order_cnt_lsb_minus4
  } else if (pic_order_cnt_type == 1) {
    r.Bit();  // delta_pic_order_always_zero_flag
    r.Se();   // offset_for_non_ref_pic
    r.Se();   // offset_for_top_to_bottom_field
    const uint32_t cycle = r.Ue();
    if (cycle > 255) return std::nullopt;
    for (uint32_t i = 0; i < cycle && !r.failed(); ++i) r.Se();
  } else if (pic_order_cnt_type != 2) {
    return std::nullopt;
  }
  r.Ue();   // max_num_ref_frames
  r.Bit();  // gaps_in_frame_num_value_allowed_flag
  const uint64_t width_mbs = uint64_t{r.Ue()} + 1;
  const uint64_t height_map_units = uint64_t{r.Ue()} + 1;
  const bool frame_mbs_only = r.Bit() != 0;
  if (!frame_mbs_only) r.Bit();  // mb_adaptive_frame_field_flag
  r.Bit();                       // direct_8x8_inference_flag
  uint64_t crop_left = 0, crop_right = 0, crop_top = 0, crop_bottom = 0;
  if (r.Bit() != 0) {  // frame_cropping_flag
    crop_left = r.Ue();
    crop_right = r.Ue();
    crop_top = r.Ue();
    crop_bottom = r.Ue();
  }
  if (r.failed()) return std::nullopt;

  // Crop units (7-19 to 7-22): ChromaArrayType 0 (monochrome or separate
  // planes) crops in luma samples; 4:2:0 halves both directions, 4:2:2 only
  // the width. Field coding doubles the vertical unit.
  const uint64_t field_factor = frame_mbs_only ? 1 : 2;
  const uint32_t chroma_array_type = separate_colour_planes ? 0 : chroma_format_idc;
  const uint64_t sub_width = (chroma_array_type == 1 || chroma_array_type == 2) ? 2 : 1;
  const uint64_t sub_height = chroma_array_type == 1 ? 2 : 1;
  const uint64_t full_width = width_mbs * 16;
  const uint64_t full_height = field_factor * height_map_units * 16;
  const uint64_t cut_x = sub_width * (crop_left + crop_right);
  const uint64_t cut_y = sub_height * field_factor * (crop_top + crop_bottom);
  if (cut_x >= full_width || cut_y >= full_height) return std::nullopt;
  const uint64_t width = full_width - cut_x;
  const uint64_t height = full_height - cut_y;
  if (width > kMaxPictureSide || height > kMaxPictureSide) return std::nullopt;
  return H264PictureSize{static_cast<uint32_t>(width), static_cast<uint32_t>(height)};
}

}  // namespace korvela
