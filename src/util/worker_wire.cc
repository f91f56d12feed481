#include "util/worker_wire.h"

#include <cstring>

namespace wire {

char type_letter(int type_code) {
  switch (type_code) {
    case 1: return kTypeLetterJPEG;
    case 2: return kTypeLetterTIFF;
    case 3: return kTypeLetterDNG;
    case 4: return kTypeLetterRaw;
    case 5: return kTypeLetterPSD;
    default: return kTypeLetterUnknown;
  }
}

static std::string_view up_to_zero(std::string_view text) {
  auto zero = text.find('\0');
  return zero == std::string_view::npos ? text : text.substr(0, zero);
}

bool record_fits(std::string_view path, std::string_view message) {
  return up_to_zero(path).size() + up_to_zero(message).size() + 4 <= kRecordSize;
}

std::optional<RecordBytes> encode_record(char code, char type, std::string_view path, std::string_view message) {
  path = up_to_zero(path);
  message = up_to_zero(message);
  if (!record_fits(path, message)) return std::nullopt;
  RecordBytes bytes{};
  bytes[0] = code;
  bytes[1] = type;
  memcpy(bytes.data() + 2, path.data(), path.size());
  memcpy(bytes.data() + 3 + path.size(), message.data(), message.size());
  return bytes;
}

RecordBytes encode_count_record(int count) {
  RecordBytes bytes{};
  bytes[0] = kCount;
  bytes[1] = static_cast<char>(count & 0xFF);
  return bytes;
}

std::optional<Record> decode_record(const char* bytes, size_t size) {
  if (size != kRecordSize) return std::nullopt;
  const char* end = bytes + kRecordSize;
  const char* path = bytes + 2;
  const char* path_end = static_cast<const char*>(memchr(path, '\0', static_cast<size_t>(end - path)));
  if (path_end == nullptr || path_end + 1 >= end) return std::nullopt;
  const char* message = path_end + 1;
  const char* message_end = static_cast<const char*>(memchr(message, '\0', static_cast<size_t>(end - message)));
  if (message_end == nullptr) return std::nullopt;
  Record record;
  record.code = bytes[0];
  record.type = static_cast<unsigned char>(bytes[1]);
  record.path.assign(path, path_end);
  record.message.assign(message, message_end);
  return record;
}

std::string encode_request_with_count(int32_t count, std::string_view mode, const std::vector<std::string>& paths) {
  std::string out;
  auto u = static_cast<uint32_t>(count);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((u >> (8 * i)) & 0xFF));
  out.append(mode);
  out.push_back('\n');
  for (const auto& p : paths) {
    out.append(p);
    out.push_back('\n');
  }
  return out;
}

std::string encode_request(std::string_view mode, const std::vector<std::string>& paths) {
  return encode_request_with_count(static_cast<int32_t>(paths.size()), mode, paths);
}

}  // namespace wire
