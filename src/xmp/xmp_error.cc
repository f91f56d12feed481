// The single exit of toolkit failures.
#include "xmp/xmp_error.h"

void XMP_Throw(XMP_Int32 id, XMP_StringPtr message) { throw XMP_Error(id, message); }
