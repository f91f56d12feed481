// Packet serialisation: the options of XMPMeta::SerializeToBuffer and the
// writer of the RDF text.
#pragma once

#include <string>

#include "xmp/xmp_types.h"

class XMPMeta;

enum : XMP_OptionBits {
  kXMP_LittleEndianBit = 0x1,
  kXMP_UTF16Bit = 0x2,
  kXMP_UTF32Bit = 0x4,
  kXMP_EncodingMask = 0x7,
  kXMP_EncodeUTF8 = 0,
  kXMP_EncodeUTF16Big = 0x2,
  kXMP_EncodeUTF16Little = 0x3,
  kXMP_EncodeUTF32Big = 0x4,
  kXMP_EncodeUTF32Little = 0x5,
  kXMP_OmitPacketWrapper = 0x10,
  kXMP_ReadOnlyPacket = 0x20,
  kXMP_UseCompactFormat = 0x40,
  kXMP_UseTwoSpaceIndent = 0x80,
  kXMP_IncludeThumbnailPad = 0x100,
  kXMP_ExactPacketLength = 0x200,
};

// The text that XMPMeta::SerializeToBuffer returns; made by toolkit start-up.
extern std::string* sSerializedPacket;

// Writes the packet without its padding into `out` and the trailer into
// `trailer`.
void WriteRdfPacket(std::string* out, XMPMeta* meta, std::string* trailer, XMP_OptionBits options,
                    const std::string& newline, const std::string& indent, size_t baseIndent);
