// Typed access to the options of the current job's settings set, with the
// built-in defaults, and the extension lists that decide which files are
// verified and how a file is classified by its extension.
//
// One object per program (`prefs`), used from one thread at a time.
#pragma once

#include "util/proper.h"

// Image type codes shared by classification and the worker's readers.
enum ImageTypeCode {
  kTypeNone = 0,
  kTypeJPEG = 1,
  kTypeTIFF = 2,
  kTypeDNG = 3,
  kTypeRaw = 4,
  kTypePSD = 5,
};

// The preference keys, as they are stored in settings files.
namespace pref_key {
inline constexpr const char* VerifyJPEGs = "VerifyJPEGs";
inline constexpr const char* VerifyDNGs = "VerifyDNGs";
inline constexpr const char* VerifyRaws = "VerifyRaws";
inline constexpr const char* VerifyTIFFs = "VerifyTIFFs";
inline constexpr const char* VerifyPSDs = "VerifyPSDs";
inline constexpr const char* TIFisRaw = "TIFisRaw";
inline constexpr const char* DBResults = "DBResults";
inline constexpr const char* DBDetails = "DBDetails";
inline constexpr const char* MaxInvalidInfinite = "MaxInvalidInfinite";
inline constexpr const char* MaxInvalid = "MaxInvalid";
inline constexpr const char* MaxSubProcesses = "MaxSubProcesses";
inline constexpr const char* NestedFolders = "NestedFolders";
inline constexpr const char* Folders = "Folders";
inline constexpr const char* ProcessNoExtension = "ProcessNoExtension";
inline constexpr const char* CheckHashes = "CheckHashes";
inline constexpr const char* CheckStructure = "CheckStructure";
inline constexpr const char* IgnoreTIFFErrors = "IgnoreTIFFErrors";
inline constexpr const char* ExtensionsJPEG = "ExtensionsJPEG";
inline constexpr const char* ExtensionsTIFF = "ExtensionsTIFF";
inline constexpr const char* ExtensionsPSD = "ExtensionsPSD";
inline constexpr const char* ExtensionsRAW = "ExtensionsRAW";
inline constexpr const char* ExtensionsDNG = "ExtensionsDNG";
}  // namespace pref_key

namespace pref_default {
inline constexpr const char* MaxInvalid = "100";
inline constexpr int MaxSubProcesses = 8;
inline constexpr const char* ExtensionsJPEG = "-JPG-JPEG-";
inline constexpr const char* ExtensionsTIFF = "-TIF-TIFF-";
inline constexpr const char* ExtensionsPSD = "-PSD-";
// DNG files are validated by the program itself: no DNG converter exists on
// this platform to take them as raw files, so DNG has a list of its own
// instead of a place in the raw list.
inline constexpr const char* ExtensionsRAW = "-CR2-CRW-DCR-KDC-MRW-NEF-ORF-PEF-RAF-RAW-SRF-X3F-EEF-ARW-SR2-MEF-IIQ-MOS-RW2-";
inline constexpr const char* ExtensionsDNG = "-DNG-";
// Camera raw files are checked only by an external converter, which a fresh
// installation here does not have: raw checking is off until a job turns it
// on.
inline constexpr bool VerifyRaws = false;
}  // namespace pref_default

class Prefs {
 public:
  Prefs() = default;
  Prefs(const Prefs&) = delete;
  Prefs& operator=(const Prefs&) = delete;
  ~Prefs();

  void SetName(const char* name);
  const char* GetName() const { return name_; }
  bool Open(const char* name);
  void Close();
  void DeleteSet();

  // The current set (owned); the front end reads and writes it directly.
  PROPSET* Set() const { return set_; }
  // Makes a set current without reading a file (the worker's start-up).
  void SetCurrent(PROPSET* set) { set_ = set; }

  bool GetVerifyJPEGs() const;
  bool GetVerifyDNGs() const;
  bool GetVerifyRaws() const;
  bool GetVerifyTIFFs() const;
  bool GetVerifyPSDs() const;
  bool GetTIFisRaw() const;
  bool GetDBResults() const;
  bool GetDBDetails() const;
  bool GetMaxInvalidInfinite() const;
  bool GetNestedFolders() const;
  bool GetProcessNoExtension() const;
  bool GetCheckHashes() const;
  bool GetCheckStructure() const;
  bool GetIgnoreTIFFErrors() const;

  int GetFolderCount() const;
  bool HasExtensionsJPEG() const;
  const char* GetExtensionsRAW() const;
  const char* GetExtensionsDNG() const;

  void SetTIFisRaw(bool on);
  bool ExtInList(const char* extension, const char* list);
  bool ShouldVerify(const char* extension);
  int TypeByExtension(const char* extension);

 private:
  bool GetBool(const char* key, bool fallback) const;
  // The stored list, the default when missing, nullptr when not a string.
  const char* GetList(const char* key, const char* fallback) const;
  bool GrowScratch(size_t size);

  char* name_ = const_cast<char*>("");
  bool name_owned_ = false;
  PROPSET* set_ = nullptr;
  char* scratch_ = nullptr;
  size_t scratch_size_ = 0;
};

extern Prefs prefs;
