// Starting and stopping the XMP toolkit for the DNG code, with the
// process-wide flag that says it is started.
#pragma once

// One namespace to register at start-up.
struct xmp_namespace_pair {
  const char* uri;     // null ends a list
  const char* prefix;  // suggested prefix
};

// Starts the toolkit unless the flag says it is started, then registers the
// namespaces of the list (ended by a null URI; null for none) and sets the
// flag. A failure raises 100005 when memory ran out and 100000 otherwise
// (a start that answers false prints its error line twice); the flag stays
// clear, so the next call tries again. Not thread-safe: the worker starts
// and stops the toolkit from its one thread, around each DNG file.
void xmp_toolkit_initialize(const xmp_namespace_pair* namespaces = nullptr);

// When the flag is set: shuts the toolkit down, which frees every registry,
// namespace and text it built, and clears the flag. Otherwise nothing.
void xmp_toolkit_terminate();

// The flag.
bool xmp_toolkit_started();

// The step that starts the toolkit; by default TXMPMeta::Initialize with no
// allocation procedures. Tests replace it to make a start fail; answers the
// previous step.
using xmp_toolkit_start_fn = bool (*)();
xmp_toolkit_start_fn exchange_xmp_toolkit_start(xmp_toolkit_start_fn start);
