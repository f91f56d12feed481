// Reads arbitrary bytes as a settings-set file and checks what the store
// promises of every set: values hold no line breaks, names are not empty,
// and names are unique apart from letter case.
#include <strings.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "util/proper.h"
#include "util/trace.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  FILE* in = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (in == nullptr) return 0;
  PROPSET* ps = propset_alloc(kPropCategory, "Fuzz");
  if (ps != nullptr) {
    prop_read_stream(ps, in);
    for (PROP* p = ps->first; p != nullptr; p = p->next) {
      if (p->propname[0] == '\0' || p->first == nullptr) abort();
      if (strchr(p->propname, '\n') != nullptr) abort();
      for (PROP* q = p->next; q != nullptr; q = q->next) {
        if (strcasecmp(p->propname, q->propname) == 0) abort();
      }
      for (PROPVAL* v = p->first; v != nullptr; v = v->next) {
        if (v->type != PROPVAL_STR || strpbrk(v->v.strval, "\r\n") != nullptr) abort();
      }
    }
    PropSetFree(ps);
  }
  fclose(in);
  trace_clear();  // failures are expected here; keep the trace from growing
  return 0;
}
