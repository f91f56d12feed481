// One XMP metadata tree as the DNG code sees it: text-level get, set,
// delete, parse and serialise, with every toolkit failure turned into a DNG
// error code or a plain false.
#pragma once

#include <cstdint>
#include <memory>

class TXMPMeta;
class dng_host;
class dng_memory_allocator;
class dng_memory_block;
class dng_text;
class dng_text_list;

// Holds the tree's client object, or none.
struct xmp_meta_holder {
  TXMPMeta* meta = nullptr;
};

// Owns its holder and the held TXMPMeta (the tree goes with its last
// reference). One thread; the toolkit is started on demand (MakeMeta) and
// must stay started while a tree is held.
//
// Failures: writes (MakeMeta, ParsePacket, SetValue's second attempt,
// SetTextList, SetDefaultLangText, SetFieldText, SerializeToBlock) raise
// 100005 when memory runs out and 100000 for a toolkit failure or any other
// foreign exception; DNG exceptions pass unchanged. Reads answer false for a
// missing or unreadable property and raise only 100005. Namespaces and
// paths are zero-terminated UTF-8.
class dng_xmp_store {
 public:
  // An empty holder; 100005 when it cannot be allocated.
  dng_xmp_store();
  // Shares the source's tree (none when it holds none); 100005 on
  // allocation failure.
  dng_xmp_store(const dng_xmp_store& other);
  dng_xmp_store& operator=(const dng_xmp_store&) = delete;
  virtual ~dng_xmp_store();

  bool HoldsMeta() const { return holder_->meta != nullptr; }
  // The held client object, or null.
  TXMPMeta* Meta() const { return holder_->meta; }

  void DropMeta();
  // Drops any tree, starts the toolkit (a no-op while started) and holds a
  // new empty tree.
  void MakeMeta();

  // Parses a packet into a new tree. A packet the toolkit rejects prints
  // "Unknown error" and raises 100006 ("File format is invalid"); a code the
  // host counts as transient passes unchanged. A failed parse leaves no
  // tree.
  void ParsePacket(dng_host& host, const void* bytes, uint32_t length);

  bool ItemExists(const char* ns, const char* path) const;
  void DeleteItem(const char* ns, const char* path);

  bool GetText(const char* ns, const char* path, dng_text& text) const;
  // Appends items 1, 2, ... until one is missing; true when any was
  // appended. A failure part-way answers false and keeps the items read.
  bool GetTextList(const char* ns, const char* path, dng_text_list& list) const;
  bool GetDefaultLangText(const char* ns, const char* path, dng_text& text) const;
  bool GetFieldText(const char* ns, const char* struct_path, const char* field_ns, const char* field_name,
                    dng_text& text) const;

  // Stores a simple value; when the first attempt fails the property is
  // deleted and the value set once more.
  void SetValue(const char* ns, const char* path, const char* value);
  // The text with every line end made LF and the control bytes 1-9, 11, 12
  // and 14-31 removed, stored as SetValue does.
  void SetText(const char* ns, const char* path, const dng_text& text);
  // Replaces the array by the list's texts (normalised as in SetText); an
  // empty list leaves the property absent.
  void SetTextList(const char* ns, const char* path, const dng_text_list& list, bool unordered);
  void SetDefaultLangText(const char* ns, const char* path, const dng_text& text);
  void SetFieldText(const char* ns, const char* struct_path, const char* field_ns, const char* field_name,
                    const dng_text& value);

  // The serialised tree in a new block of the allocator, or null when no
  // tree is held or the packet is empty. With the packet flag and a target
  // length an exact-length packet is tried first; otherwise (or when that
  // fails) a packet with the given padding, or without the packet wrapper
  // when the flag is clear.
  std::unique_ptr<dng_memory_block> SerializeToBlock(dng_memory_allocator& allocator, bool packet,
                                                     uint32_t target_length, uint32_t padding) const;

 private:
  std::unique_ptr<xmp_meta_holder> holder_;
};

// Option bits of the arrays that SetTextList writes.
inline constexpr uint32_t dng_xmp_unordered_array = 512;
inline constexpr uint32_t dng_xmp_ordered_array = 1024;
