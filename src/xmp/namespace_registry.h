// The process-wide registries of namespaces and aliases that every metadata
// object shares. They exist between toolkit start-up and shutdown and are
// read and changed only under CoreLock.
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "xmp/xpath.h"

// Ordered maps with byte-wise text comparison.
using XMP_StringMap = std::map<std::string, std::string, std::less<>>;
using XMP_AliasMap = std::map<std::string, XMP_ExpandedXPath, std::less<>>;

// Namespace URI -> its prefix, always ending with ":".
extern XMP_StringMap* sURIToPrefixMap;
// Prefix with its ":" -> namespace URI. Holds the same pairs as
// sURIToPrefixMap in the other direction.
extern XMP_StringMap* sNamespacePrefixToURIMap;
// Alias qualified name -> actual property as an expanded path: schema and
// root step, plus the item step for an alias of an array item. No actual
// path names a registered alias.
extern XMP_AliasMap* sAliasMap;

// Makes the three registries empty (and the generated-prefix counters);
// deletes them and sets the pointers to null.
void CreateRegistries();
void DeleteRegistries();

// Registers the standard namespaces, in their fixed order.
void RegisterStandardNamespaces();

// Null when the URI (prefix) is not registered or the registries do not exist.
const std::string* FindPrefixForURI(std::string_view namespaceURI);
const std::string* FindURIForPrefix(std::string_view prefixWithColon);
bool IsRegisteredAlias(std::string_view qualifiedName);

// The namespace URIs of the standard prefixes.
inline constexpr const char kXMP_NS_XML[] = "http://www.w3.org/XML/1998/namespace";
inline constexpr const char kXMP_NS_RDF[] = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";
inline constexpr const char kXMP_NS_DC[] = "http://purl.org/dc/elements/1.1/";
inline constexpr const char kXMP_NS_IPTCCore[] = "http://iptc.org/std/Iptc4xmpCore/1.0/xmlns/";
inline constexpr const char kXMP_NS_XMP[] = "http://ns.adobe.com/xap/1.0/";
inline constexpr const char kXMP_NS_PDF[] = "http://ns.adobe.com/pdf/1.3/";
inline constexpr const char kXMP_NS_Photoshop[] = "http://ns.adobe.com/photoshop/1.0/";
inline constexpr const char kXMP_NS_PSAlbum[] = "http://ns.adobe.com/album/1.0/";
inline constexpr const char kXMP_NS_EXIF[] = "http://ns.adobe.com/exif/1.0/";
inline constexpr const char kXMP_NS_EXIF_Aux[] = "http://ns.adobe.com/exif/1.0/aux/";
inline constexpr const char kXMP_NS_TIFF[] = "http://ns.adobe.com/tiff/1.0/";
inline constexpr const char kXMP_NS_PNG[] = "http://ns.adobe.com/png/1.0/";
inline constexpr const char kXMP_NS_JPEG[] = "http://ns.adobe.com/jpeg/1.0/";
inline constexpr const char kXMP_NS_JP2K[] = "http://ns.adobe.com/jp2k/1.0/";
inline constexpr const char kXMP_NS_CameraRaw[] = "http://ns.adobe.com/camera-raw-settings/1.0/";
inline constexpr const char kXMP_NS_StockPhoto[] = "http://ns.adobe.com/StockPhoto/1.0/";
inline constexpr const char kXMP_NS_XMP_Rights[] = "http://ns.adobe.com/xap/1.0/rights/";
inline constexpr const char kXMP_NS_XMP_MM[] = "http://ns.adobe.com/xap/1.0/mm/";
inline constexpr const char kXMP_NS_XMP_BJ[] = "http://ns.adobe.com/xap/1.0/bj/";
inline constexpr const char kXMP_NS_XMP_T[] = "http://ns.adobe.com/xap/1.0/t/";
inline constexpr const char kXMP_NS_XMP_T_PG[] = "http://ns.adobe.com/xap/1.0/t/pg/";
inline constexpr const char kXMP_NS_XMP_G[] = "http://ns.adobe.com/xap/1.0/g/";
inline constexpr const char kXMP_NS_XMP_G_IMG[] = "http://ns.adobe.com/xap/1.0/g/img/";
inline constexpr const char kXMP_NS_XMP_Font[] = "http://ns.adobe.com/xap/1.0/sType/Font#";
inline constexpr const char kXMP_NS_XMP_Dimensions[] = "http://ns.adobe.com/xap/1.0/sType/Dimensions#";
inline constexpr const char kXMP_NS_XMP_ResourceEvent[] = "http://ns.adobe.com/xap/1.0/sType/ResourceEvent#";
inline constexpr const char kXMP_NS_XMP_ResourceRef[] = "http://ns.adobe.com/xap/1.0/sType/ResourceRef#";
inline constexpr const char kXMP_NS_XMP_Version[] = "http://ns.adobe.com/xap/1.0/sType/Version#";
inline constexpr const char kXMP_NS_XMP_Job[] = "http://ns.adobe.com/xap/1.0/sType/Job#";
inline constexpr const char kXMP_NS_XMP_Manifest[] = "http://ns.adobe.com/xap/1.0/sType/ManifestItem#";
inline constexpr const char kXMP_NS_XMP_IdentifierQual[] = "http://ns.adobe.com/xmp/Identifier/qual/1.0/";
inline constexpr const char kXMP_NS_XMPMeta[] = "adobe:ns:meta/";
inline constexpr const char kXMP_NS_iX[] = "http://ns.adobe.com/iX/1.0/";

struct StandardNamespace {
  const char* prefix;
  const char* uri;
};

// The standard namespaces in registration order.
inline constexpr StandardNamespace kStandardNamespaces[] = {
    {"xml", kXMP_NS_XML},
    {"rdf", kXMP_NS_RDF},
    {"dc", kXMP_NS_DC},
    {"Iptc4xmpCore", kXMP_NS_IPTCCore},
    {"xap", kXMP_NS_XMP},
    {"pdf", kXMP_NS_PDF},
    {"photoshop", kXMP_NS_Photoshop},
    {"album", kXMP_NS_PSAlbum},
    {"exif", kXMP_NS_EXIF},
    {"aux", kXMP_NS_EXIF_Aux},
    {"tiff", kXMP_NS_TIFF},
    {"png", kXMP_NS_PNG},
    {"jpeg", kXMP_NS_JPEG},
    {"jp2k", kXMP_NS_JP2K},
    {"crs", kXMP_NS_CameraRaw},
    {"bmsp", kXMP_NS_StockPhoto},
    {"xapRights", kXMP_NS_XMP_Rights},
    {"xapMM", kXMP_NS_XMP_MM},
    {"xapBJ", kXMP_NS_XMP_BJ},
    {"xapT", kXMP_NS_XMP_T},
    {"xapTPg", kXMP_NS_XMP_T_PG},
    {"xapG", kXMP_NS_XMP_G},
    {"xapGImg", kXMP_NS_XMP_G_IMG},
    {"stFNT", kXMP_NS_XMP_Font},
    {"stDim", kXMP_NS_XMP_Dimensions},
    {"stEvt", kXMP_NS_XMP_ResourceEvent},
    {"stRef", kXMP_NS_XMP_ResourceRef},
    {"stVer", kXMP_NS_XMP_Version},
    {"stJob", kXMP_NS_XMP_Job},
    {"stMfs", kXMP_NS_XMP_Manifest},
    {"xmpidq", kXMP_NS_XMP_IdentifierQual},
    {"x", kXMP_NS_XMPMeta},
    {"iX", kXMP_NS_iX},
};
