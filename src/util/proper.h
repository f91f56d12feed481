// The property-set store: named sets of properties kept as text files,
// one file per set, in the folder of the set's category under the property
// root. Plain functions over three linked records; every failure gives
// false or nullptr after pushing a trace record. Single-threaded: the root
// is process-wide and unguarded.
//
// File format: "Version\t1\n", "Date\t<ctime text>" (ending in its own
// newline), then one "name\tvalue\n" line per value.
#pragma once

#include <cstdio>

inline constexpr const char* kPropCategory = "QXMain";

enum { PROPVAL_INT = 0, PROPVAL_STR = 1 };

struct PROPVAL {
  PROPVAL* next;
  int type;  // PROPVAL_INT or PROPVAL_STR
  union {
    int intval;
    char* strval;  // owned; never holds a carriage return or line feed
  } v;
};

struct PROP {
  PROP* next;
  char* propname;  // owned; compared without regard to case
  PROPVAL* first;  // never empty
};

struct PROPSET {
  bool changed;
  char* category;  // owned
  char* setname;   // owned; nullptr for a set made without a name
  PROP* first;
};

// Sets the property root (a copy) and makes that folder (one level).
// An absent root changes nothing and gives true.
bool PropInit(const char* root);
// The current root, or nullptr before PropInit; PropRootFree forgets it.
const char* PropRoot();
void PropRootFree();

// Whether a set name can name a file inside the category folder: not empty,
// not "." or "..", no "/", not starting with "." (temporary files do).
bool PropSetNameValid(const char* setname);

PROPSET* propset_alloc(const char* category, const char* setname);
PROPSET* PropSetOpen(const char* setname);
bool prop_read(PROPSET* ps, const char* path);
// Reads set-file lines from an open stream; the caller closes it.
bool prop_read_stream(PROPSET* ps, FILE* in);
bool PropSetSave(PROPSET* ps);
bool PropSetRename(PROPSET* ps, const char* setname);
bool PropSetDelete(const char* setname);
bool PropSetEnum(int index, char** setname);
int PropSetCount();
void PropSetFree(PROPSET* ps);

PROPVAL* PropGet(PROPSET* ps, const char* propname, int index);
bool prop_put(PROPSET* ps, const char* propname, int index, PROPVAL* pv);
PROPVAL* propval_alloc(const char* val);
bool PropPutStr(PROPSET* ps, const char* propname, int index, const char* val);
bool PropPutInt(PROPSET* ps, const char* propname, int val);
void PropDelete(PROPSET* ps, const char* propname);
void propval_free(PROPVAL* pv);

char* get_category_path(const char* category);
char* get_set_path(const char* category, const char* setname);
