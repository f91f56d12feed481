#include "dng/parse/xmp_toolkit.h"

#include <new>
#include <string>

#include "dng/core/dng_errors.h"
#include "dng/parse/txmp_meta.h"
#include "xmp/xmp_call.h"

namespace {

bool sToolkitStarted = false;

bool start_toolkit() { return TXMPMeta::Initialize(nullptr, nullptr); }

xmp_toolkit_start_fn sStart = start_toolkit;

}  // namespace

void xmp_toolkit_initialize(const xmp_namespace_pair* namespaces) {
  if (sToolkitStarted) return;
  // Set once the toolkit has started: a later failure stops it again, so
  // that the next call builds everything afresh instead of nesting inside
  // a start that no stop will match.
  bool started = false;
  auto undo = [&started] {
    if (started) XMPCall_Shutdown();
  };
  try {
    if (!sStart()) throw_dng_code(dng_code_unknown);
    started = true;
    if (namespaces != nullptr) {
      std::string scratch;
      for (const xmp_namespace_pair* pair = namespaces; pair->uri != nullptr; ++pair) {
        TXMPMeta::DefineNamespace(pair->uri, pair->prefix, &scratch);
      }
    }
  } catch (const std::bad_alloc&) {
    undo();
    throw_dng_code(dng_code_memory);
  } catch (...) {
    undo();
    throw_dng_code(dng_code_unknown);
  }
  sToolkitStarted = true;
}

void xmp_toolkit_terminate() {
  if (!sToolkitStarted) return;
  XMPCall_Shutdown();
  sToolkitStarted = false;
}

bool xmp_toolkit_started() { return sToolkitStarted; }

xmp_toolkit_start_fn exchange_xmp_toolkit_start(xmp_toolkit_start_fn start) {
  xmp_toolkit_start_fn previous = sStart;
  sStart = start != nullptr ? start : start_toolkit;
  return previous;
}
