// XMP packet parsing and serialisation against the floor of a bare Expat
// parse of the same bytes, one toolkit start and stop, and the peak memory
// of parsing a 10 MB packet.
//
// Ratios to quote: ParseFromBuffer/<packet> over BareExpat/<packet>, and
// Serialize/<packet> over BareExpatOfSerialized/<packet>.
#include <benchmark/benchmark.h>
#include <expat.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "xmp/allocation_hooks.h"
#include "xmp/xmp_call.h"
#include "xmp/xmp_meta.h"
#include "xmp/xmp_meta_serialize.h"

namespace {

std::string ReadFixture(const char* name) {
  std::ifstream in(std::string(CORVELLA_FIXTURES) + "/xmp/" + name, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

const char kHead[] =
    "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
    "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n";
const char kTail[] = " </rdf:RDF>\n</x:xmpmeta>\n<?xpacket end=\"w\"?>";

// Raw-conversion settings as a converter writes them: many attributes and a
// few tone-curve sequences.
std::string RawSettingsPacket(size_t targetBytes) {
  std::string packet = kHead;
  packet += "  <rdf:Description rdf:about=\"\" xmlns:crs=\"http://ns.adobe.com/camera-raw-settings/1.0/\"\n";
  for (int i = 0; packet.size() < targetBytes * 3 / 4; ++i) {
    packet += "   crs:Setting" + std::to_string(i) + "=\"" + std::to_string(i * 37 % 1000 - 500) + "\"\n";
  }
  packet += "  >\n";
  for (int curve = 0; packet.size() < targetBytes; ++curve) {
    packet += "   <crs:ToneCurve" + std::to_string(curve) + ">\n    <rdf:Seq>\n";
    for (int point = 0; point < 16; ++point) {
      packet += "     <rdf:li>" + std::to_string(point * 16) + ", " + std::to_string(point * 15) + "</rdf:li>\n";
    }
    packet += "    </rdf:Seq>\n   </crs:ToneCurve" + std::to_string(curve) + ">\n";
  }
  packet += "  </rdf:Description>\n";
  return packet + kTail;
}

// A media-management history: a sequence of event structs.
std::string HistoryPacket(size_t targetBytes) {
  std::string packet = kHead;
  packet +=
      "  <rdf:Description rdf:about=\"\" xmlns:xmpMM=\"http://ns.adobe.com/xap/1.0/mm/\"\n"
      "    xmlns:stEvt=\"http://ns.adobe.com/xap/1.0/sType/ResourceEvent#\">\n"
      "   <xmpMM:History>\n    <rdf:Seq>\n";
  for (int i = 0; packet.size() < targetBytes; ++i) {
    packet += "     <rdf:li stEvt:action=\"saved\" stEvt:instanceID=\"xmp.iid:" + std::to_string(1000000 + i) +
              "-5a4b-4c3d-8e2f-0123456789ab\" stEvt:when=\"2019-06-06T05:15:" + std::to_string(10 + i % 50) +
              "+02:00\" stEvt:softwareAgent=\"Raw Converter 11.3\" stEvt:changed=\"/metadata\"/>\n";
  }
  packet += "    </rdf:Seq>\n   </xmpMM:History>\n  </rdf:Description>\n";
  return packet + kTail;
}

struct Packet {
  std::string name;
  std::string bytes;
};

const std::vector<Packet>& Packets() {
  static const std::vector<Packet> packets = {
      {"psd_small_iptc", ReadFixture("psd_small_iptc.xmp")},
      {"tiff_deflate", ReadFixture("tiff_deflate.xmp")},
      {"canon_eos_6d_dng", ReadFixture("canon_eos_6d_dng.xmp")},
      {"psd_hopper", ReadFixture("psd_hopper.xmp")},
      {"raw_settings_30k", RawSettingsPacket(30000)},
      {"history_50k", HistoryPacket(50000)},
  };
  return packets;
}

void XMLCALL OnStart(void*, const char*, const char**) {}
void XMLCALL OnEnd(void*, const char*) {}
void XMLCALL OnText(void*, const char*, int) {}
void XMLCALL OnNamespace(void*, const char*, const char*) {}
void XMLCALL OnInstruction(void*, const char*, const char*) {}

void BareExpatParse(const std::string& bytes) {
  XML_Parser parser = XML_ParserCreateNS(nullptr, '@');
  XML_SetElementHandler(parser, OnStart, OnEnd);
  XML_SetCharacterDataHandler(parser, OnText);
  XML_SetNamespaceDeclHandler(parser, OnNamespace, nullptr);
  XML_SetProcessingInstructionHandler(parser, OnInstruction);
  if (XML_Parse(parser, bytes.data(), static_cast<int>(bytes.size()), 1) != XML_STATUS_OK) std::abort();
  XML_ParserFree(parser);
}

class Toolkit {
 public:
  Toolkit() {
    XMPCallResult result;
    XMPCall_Initialize(nullptr, nullptr, &result);
  }
  ~Toolkit() { XMPCall_Shutdown(); }
};

std::string SerializedPretty(const std::string& packet) {
  XMPMeta meta;
  meta.ParseFromBuffer(packet.data(), static_cast<XMP_StringLen>(packet.size()), 0);
  XMP_StringPtr text = nullptr;
  XMP_StringLen length = 0;
  meta.SerializeToBuffer(&text, &length, 0, 0, "", "", 0);
  return std::string(text, length);
}

void BM_BareExpat(benchmark::State& state, const Packet* packet) {
  for (auto _ : state) BareExpatParse(packet->bytes);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * packet->bytes.size()));
}

void BM_ParseFromBuffer(benchmark::State& state, const Packet* packet) {
  Toolkit toolkit;
  for (auto _ : state) {
    XMPMeta meta;
    meta.ParseFromBuffer(packet->bytes.data(), static_cast<XMP_StringLen>(packet->bytes.size()), 0);
    benchmark::DoNotOptimize(meta.tree.children.size());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * packet->bytes.size()));
}

void BM_Serialize(benchmark::State& state, const Packet* packet) {
  Toolkit toolkit;
  XMPMeta meta;
  meta.ParseFromBuffer(packet->bytes.data(), static_cast<XMP_StringLen>(packet->bytes.size()), 0);
  for (auto _ : state) {
    XMP_StringPtr text = nullptr;
    XMP_StringLen length = 0;
    meta.SerializeToBuffer(&text, &length, 0, 0, "", "", 0);
    benchmark::DoNotOptimize(text);
  }
}

void BM_BareExpatOfSerialized(benchmark::State& state, const Packet* packet) {
  std::string serialized;
  {
    Toolkit toolkit;
    serialized = SerializedPretty(packet->bytes);
  }
  for (auto _ : state) BareExpatParse(serialized);
  state.counters["bytes"] = static_cast<double>(serialized.size());
}

void BM_ToolkitStartStop(benchmark::State& state) {
  for (auto _ : state) {
    XMPCallResult result;
    XMPCall_Initialize(nullptr, nullptr, &result);
    XMPCall_Shutdown();
  }
}
BENCHMARK(BM_ToolkitStartStop);

// Bytes held through the hooks, with each block's size kept in front of it.
size_t gHeldBytes = 0;
size_t gPeakBytes = 0;

void* MeasuringAllocate(size_t size) {
  auto* block = static_cast<size_t*>(std::malloc(size + 16));
  if (block == nullptr) return nullptr;
  *block = size;
  gHeldBytes += size;
  if (gHeldBytes > gPeakBytes) gPeakBytes = gHeldBytes;
  return reinterpret_cast<char*>(block) + 16;
}

void MeasuringFree(void* pointer) {
  auto* block = reinterpret_cast<size_t*>(static_cast<char*>(pointer) - 16);
  gHeldBytes -= *block;
  std::free(block);
}

// Peak bytes allocated by the toolkit while parsing a 10 MB packet (Expat's
// own buffers are not counted: it allocates with malloc).
void BM_PeakMemory10MB(benchmark::State& state) {
  const std::string packet = HistoryPacket(10u << 20);
  for (auto _ : state) {
    gHeldBytes = 0;
    gPeakBytes = 0;
    XMPCallResult result;
    XMPCall_Initialize(&MeasuringAllocate, &MeasuringFree, &result);
    {
      XMPMeta meta;
      meta.ParseFromBuffer(packet.data(), static_cast<XMP_StringLen>(packet.size()), 0);
    }
    XMPCall_Shutdown();
  }
  state.counters["packet_MB"] = static_cast<double>(packet.size()) / (1 << 20);
  state.counters["peak_MB"] = static_cast<double>(gPeakBytes) / (1 << 20);
}
BENCHMARK(BM_PeakMemory10MB)->Iterations(1)->Unit(benchmark::kMillisecond);

int RegisterPacketBenchmarks() {
  for (const Packet& packet : Packets()) {
    benchmark::RegisterBenchmark(("BareExpat/" + packet.name).c_str(), BM_BareExpat, &packet);
    benchmark::RegisterBenchmark(("ParseFromBuffer/" + packet.name).c_str(), BM_ParseFromBuffer, &packet);
    benchmark::RegisterBenchmark(("BareExpatOfSerialized/" + packet.name).c_str(), BM_BareExpatOfSerialized,
                                 &packet);
    benchmark::RegisterBenchmark(("Serialize/" + packet.name).c_str(), BM_Serialize, &packet);
  }
  return 0;
}
[[maybe_unused]] const int kRegistered = RegisterPacketBenchmarks();

}  // namespace

BENCHMARK_MAIN();
