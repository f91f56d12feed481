// Composing the EXIF time text of a hash key.
#include "frontend/core/exif_time.h"

#include <cstring>

namespace frontend {

std::string compose_exif_time(const char* date_time_digitized, const char* sub_sec_digitized,
                              const char* date_time) {
  std::string text = date_time_digitized;
  if (sub_sec_digitized[0] != '\0') {
    text += ".";
    text += sub_sec_digitized;
  }
  if (date_time[0] != '\0' && std::strcmp(date_time, date_time_digitized) != 0) {
    text += "/";
    text += date_time;
  }
  if (text.size() > kExifTimeMax) text.resize(kExifTimeMax);
  return text;
}

std::mutex& examiner_mutex() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace frontend
