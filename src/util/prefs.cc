#include "util/prefs.h"

#include <cstdlib>
#include <cstring>

Prefs prefs;

namespace {

constexpr const char* kExtensionKeys[] = {pref_key::ExtensionsJPEG, pref_key::ExtensionsTIFF, pref_key::ExtensionsPSD,
                                          pref_key::ExtensionsRAW, pref_key::ExtensionsDNG};

char ascii_upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

Prefs::~Prefs() {
  free(scratch_);
  if (name_owned_) free(name_);
}

void Prefs::SetName(const char* name) {
  if (name == nullptr) name = "Default";
  char* copy = strdup(name);
  if (name_owned_) free(name_);
  if (copy == nullptr) {
    name_ = const_cast<char*>("");
    name_owned_ = false;
  } else {
    name_ = copy;
    name_owned_ = true;
  }
}

bool Prefs::Open(const char* name) {
  set_ = PropSetOpen(name);
  if (set_ != nullptr) {
    for (const char* key : kExtensionKeys) PropDelete(set_, key);
  }
  SetName(name);
  return set_ != nullptr;
}

void Prefs::Close() {
  if (set_ != nullptr && set_->setname != nullptr && PropSetSave(set_)) PropSetFree(set_);
  set_ = nullptr;
  free(scratch_);
  scratch_ = nullptr;
  scratch_size_ = 0;
  PropRootFree();
  if (name_owned_) free(name_);
  name_ = const_cast<char*>("");
  name_owned_ = false;
}

void Prefs::DeleteSet() {
  if (set_ == nullptr) return;
  char* name = set_->setname != nullptr ? strdup(set_->setname) : nullptr;
  // Saved and freed as Close does, but the property root stays: deleting the
  // file and opening "Default" afterwards still need it.
  if (set_->setname != nullptr && PropSetSave(set_)) PropSetFree(set_);
  set_ = nullptr;
  if (name != nullptr) {
    PropSetDelete(name);
    free(name);
  }
}

bool Prefs::GetBool(const char* key, bool fallback) const {
  PROPVAL* pv = PropGet(set_, key, 0);
  if (pv == nullptr) return fallback;
  if (pv->type == PROPVAL_INT) return pv->v.intval != 0;
  if (pv->type == PROPVAL_STR) return strtol(pv->v.strval, nullptr, 10) != 0;
  return false;
}

bool Prefs::GetVerifyJPEGs() const { return GetBool(pref_key::VerifyJPEGs, true); }
bool Prefs::GetVerifyDNGs() const { return GetBool(pref_key::VerifyDNGs, true); }
bool Prefs::GetVerifyRaws() const { return GetBool(pref_key::VerifyRaws, pref_default::VerifyRaws); }
bool Prefs::GetVerifyTIFFs() const { return GetBool(pref_key::VerifyTIFFs, true); }
bool Prefs::GetVerifyPSDs() const { return GetBool(pref_key::VerifyPSDs, true); }
bool Prefs::GetTIFisRaw() const { return GetBool(pref_key::TIFisRaw, false); }
bool Prefs::GetDBResults() const { return GetBool(pref_key::DBResults, true); }
bool Prefs::GetDBDetails() const { return GetBool(pref_key::DBDetails, true); }
bool Prefs::GetMaxInvalidInfinite() const { return GetBool(pref_key::MaxInvalidInfinite, true); }
bool Prefs::GetNestedFolders() const { return GetBool(pref_key::NestedFolders, true); }
bool Prefs::GetProcessNoExtension() const { return GetBool(pref_key::ProcessNoExtension, false); }
bool Prefs::GetCheckHashes() const { return GetBool(pref_key::CheckHashes, false); }
bool Prefs::GetCheckStructure() const { return GetBool(pref_key::CheckStructure, true); }
bool Prefs::GetIgnoreTIFFErrors() const { return GetBool(pref_key::IgnoreTIFFErrors, false); }

int Prefs::GetFolderCount() const {
  int count = 0;
  while (PropGet(set_, pref_key::Folders, count) != nullptr) ++count;
  return count;
}

bool Prefs::HasExtensionsJPEG() const { return PropGet(set_, pref_key::ExtensionsJPEG, 0) != nullptr; }

const char* Prefs::GetList(const char* key, const char* fallback) const {
  PROPVAL* pv = PropGet(set_, key, 0);
  if (pv == nullptr) return fallback;
  return pv->type == PROPVAL_STR ? pv->v.strval : nullptr;
}

const char* Prefs::GetExtensionsRAW() const { return GetList(pref_key::ExtensionsRAW, pref_default::ExtensionsRAW); }
const char* Prefs::GetExtensionsDNG() const { return GetList(pref_key::ExtensionsDNG, pref_default::ExtensionsDNG); }

bool Prefs::GrowScratch(size_t size) {
  if (size <= scratch_size_) return true;
  char* grown = static_cast<char*>(realloc(scratch_, size));
  if (grown == nullptr) return false;
  scratch_ = grown;
  scratch_size_ = size;
  return true;
}

bool Prefs::ExtInList(const char* extension, const char* list) {
  if (extension == nullptr || list == nullptr) return false;
  size_t len = strlen(extension);
  if (!GrowScratch(len + 3)) return false;
  scratch_[0] = '-';
  // ASCII only: bytes of UTF-8 names are never changed.
  for (size_t i = 0; i < len; ++i) scratch_[i + 1] = ascii_upper(extension[i]);
  scratch_[len + 1] = '-';
  scratch_[len + 2] = '\0';
  return strstr(list, scratch_) != nullptr;
}

bool Prefs::ShouldVerify(const char* extension) {
  if (GetVerifyJPEGs() && ExtInList(extension, GetList(pref_key::ExtensionsJPEG, pref_default::ExtensionsJPEG)))
    return true;
  if (GetVerifyTIFFs() && ExtInList(extension, GetList(pref_key::ExtensionsTIFF, pref_default::ExtensionsTIFF)))
    return true;
  if (GetVerifyPSDs() && ExtInList(extension, GetList(pref_key::ExtensionsPSD, pref_default::ExtensionsPSD)))
    return true;
  if (GetVerifyRaws() && ExtInList(extension, GetExtensionsRAW())) return true;
  if (GetVerifyDNGs() && ExtInList(extension, GetExtensionsDNG())) return true;
  return extension != nullptr && extension[0] == '\0' && GetProcessNoExtension();
}

int Prefs::TypeByExtension(const char* extension) {
  if (ExtInList(extension, GetList(pref_key::ExtensionsJPEG, pref_default::ExtensionsJPEG))) return kTypeJPEG;
  if (ExtInList(extension, GetList(pref_key::ExtensionsTIFF, pref_default::ExtensionsTIFF))) return kTypeTIFF;
  if (ExtInList(extension, GetList(pref_key::ExtensionsPSD, pref_default::ExtensionsPSD))) return kTypePSD;
  if (ExtInList(extension, GetExtensionsDNG())) return kTypeDNG;
  if (ExtInList(extension, GetExtensionsRAW())) return kTypeRaw;
  return kTypeNone;
}

void Prefs::SetTIFisRaw(bool on) {
  if (set_ == nullptr) return;
  PropPutInt(set_, pref_key::TIFisRaw, on ? 1 : 0);

  // The TIFF list loses "TIF-" when TIF counts as raw and gets it back after.
  const char* tiff = GetList(pref_key::ExtensionsTIFF, pref_default::ExtensionsTIFF);
  if (tiff != nullptr && GrowScratch(strlen(tiff) + 4 + 1)) {
    strcpy(scratch_, tiff);
    char* found = strstr(scratch_, "-TIF-");
    if (on && found != nullptr) {
      memmove(found + 1, found + 5, strlen(found + 5) + 1);
      PropPutStr(set_, pref_key::ExtensionsTIFF, 0, scratch_);
    } else if (!on && found == nullptr) {
      strcat(scratch_, "TIF-");
      PropPutStr(set_, pref_key::ExtensionsTIFF, 0, scratch_);
    }
  }

  const char* raw = GetExtensionsRAW();
  if (raw != nullptr && GrowScratch(strlen(raw) + 4 + 1)) {
    strcpy(scratch_, raw);
    char* found = strstr(scratch_, "-TIF-");
    if (on && found == nullptr) {
      strcat(scratch_, "TIF-");
      PropPutStr(set_, pref_key::ExtensionsRAW, 0, scratch_);
    } else if (!on && found != nullptr) {
      memmove(found + 1, found + 5, strlen(found + 5) + 1);
      PropPutStr(set_, pref_key::ExtensionsRAW, 0, scratch_);
    }
  }
}
