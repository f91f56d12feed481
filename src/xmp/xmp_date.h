// ISO 8601 date-time texts: reading them into a broken-down value, writing
// a value back, and normalising out-of-range fields.
#pragma once

#include <cstddef>

#include "xmp/xmp_types.h"

// A field of 0 in the date part means the field is absent; year, month and
// day all 0 is a time without a date. Zone sign: -1 west of UTC, 0 UTC or
// no zone, +1 east.
struct XMPDateValue {
  XMP_Int32 year = 0;
  XMP_Int32 month = 0;
  XMP_Int32 day = 0;
  XMP_Int32 hour = 0;
  XMP_Int32 minute = 0;
  XMP_Int32 second = 0;
  XMP_Int32 tzSign = 0;
  XMP_Int32 tzHour = 0;
  XMP_Int32 tzMinute = 0;
  XMP_Int32 nanoSecond = 0;

  bool operator==(const XMPDateValue&) const = default;
};

// Reads a date text; throws 5 for an empty text and 4 with the message of
// the failing field otherwise. A number of more than nine digits is
// refused with its field's message; a fraction keeps its first nine digits
// (nanoseconds) and ignores any further ones.
void ParseIsoDate(XMP_StringPtr text, XMPDateValue* value);

// Writes the value into sDateText and returns it (valid until the next
// call); the value itself is not changed. Throws 4 for partial dates with
// gaps, out-of-range months or days of a date-only value, and zones that
// are out of range or signed with 00:00.
void WriteIsoDate(const XMPDateValue& value, XMP_StringPtr* text, XMP_StringLen* length);

// The full date-time form without a zone, after normalising a copy.
void FormatIsoDate(const XMPDateValue& value, char* buffer, size_t size);

// Brings every field into its range, carrying into the next larger field.
void NormalizeDateTime(XMPDateValue* value);

bool IsLeapYear(XMP_Int32 year);
XMP_Int32 DaysInMonth(XMP_Int32 year, XMP_Int32 month);

// The run of decimal digits at *position (at most nine of them), moving
// *position past it; no digit, or too many, throws 4 with message.
XMP_Int32 ReadDecimal(XMP_StringPtr text, size_t* position, XMP_StringPtr message);
