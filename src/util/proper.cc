#include "util/proper.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/files.h"
#include "util/trace.h"
#include "util/walker.h"

namespace {

// Every failure of the store is traced under these names, with the fixed
// line numbers below: logs and support notes quote them.
constexpr const char* kWhere = "[fcn???]";
constexpr const char* kSource = "proper";

namespace line {
constexpr int kCategoryPathAlloc = 39;
constexpr int kSetNameRefused = 51;
constexpr int kSetPathCategory = 52;
constexpr int kSetPathRealloc = 53;
constexpr int kSetAlloc = 108;
constexpr int kSetCategoryAlloc = 111;
constexpr int kSetNameAlloc = 114;
constexpr int kReadOpen = 135;
constexpr int kReadNoName = 141;
constexpr int kReadPut = 145;
constexpr int kReadError = 148;
constexpr int kPutPropAlloc = 190;
constexpr int kPutNameAlloc = 191;
constexpr int kInitRootAlloc = 225;
constexpr int kInitMkdir = 230;
constexpr int kEnumCategoryPath = 270;
constexpr int kEnumSetPath = 276;
constexpr int kEnumNameAlloc = 279;
constexpr int kDeleteSetPath = 305;
constexpr int kDeleteUnlink = 306;
constexpr int kOpenAlloc = 322;
constexpr int kOpenSetPath = 324;
constexpr int kOpenRead = 325;
constexpr int kSaveNoName = 373;
constexpr int kSaveCategoryPath = 377;
constexpr int kSaveMkdir = 379;
constexpr int kSaveSetPath = 380;
constexpr int kSaveTempPath = 381;
constexpr int kSaveOpen = 382;
constexpr int kSaveHeader = 384;
constexpr int kSaveIntLine = 391;
constexpr int kSaveStrLine = 395;
constexpr int kSaveClose = 397;
constexpr int kSaveRename = 402;
constexpr int kRenameAlloc = 461;
constexpr int kPutIntAlloc = 616;
constexpr int kPutIntPut = 619;
constexpr int kValAlloc = 635;
constexpr int kValStrAlloc = 640;
constexpr int kPutStrAlloc = 667;
constexpr int kPutStrPut = 668;
}  // namespace line

char* g_root = nullptr;

void trace(int line_number, const char* expression) { trace_push(kWhere, kSource, line_number, expression, errno); }

char* copy_string(const char* text) {
  size_t n = strlen(text) + 1;
  char* copy = static_cast<char*>(malloc(n));
  if (copy != nullptr) memcpy(copy, text, n);
  return copy;
}

PROPVAL* int_value(int value) {
  auto* pv = static_cast<PROPVAL*>(calloc(1, sizeof(PROPVAL)));
  if (pv == nullptr) return nullptr;
  pv->type = PROPVAL_INT;
  pv->v.intval = value;
  return pv;
}

// Makes a unique temporary file ".<set>.<pid>.<n>" in the category folder, so
// that processes saving the same set at once never share one.
FILE* open_temp_file(const std::string& category_path, const char* setname, std::string* temp_path) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    *temp_path = category_path + "/." + setname + "." + std::to_string(getpid()) + "." +
                 std::to_string(counter.fetch_add(1));
    int fd = open(temp_path->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      FILE* out = fdopen(fd, "w");
      if (out == nullptr) {
        int err = errno;
        close(fd);
        unlink(temp_path->c_str());
        errno = err;
      }
      return out;
    }
    if (errno != EEXIST) return nullptr;
  }
  return nullptr;
}

bool write_set(FILE* out, const PROPSET* ps) {
  time_t now = time(nullptr);
  char date[64];
  if (ctime_r(&now, date) == nullptr) strcpy(date, "\n");
  if (fprintf(out, "Version\t%d\nDate\t%s", 1, date) < 0) {
    trace(line::kSaveHeader, "0");
    return false;
  }
  for (const PROP* prop = ps->first; prop != nullptr; prop = prop->next) {
    if (strcasecmp(prop->propname, "Version") == 0 || strcasecmp(prop->propname, "Date") == 0) continue;
    for (const PROPVAL* pv = prop->first; pv != nullptr; pv = pv->next) {
      if (pv->type == PROPVAL_INT) {
        if (fprintf(out, "%s\t%d\n", prop->propname, pv->v.intval) < 0) {
          trace(line::kSaveIntLine, "0");
          return false;
        }
      } else if (pv->type == PROPVAL_STR) {
        if (fprintf(out, "%s\t%s\n", prop->propname, pv->v.strval) < 0) {
          trace(line::kSaveStrLine, "0");
          return false;
        }
      }
    }
  }
  return true;
}

}  // namespace

bool PropInit(const char* root) {
  if (root == nullptr) return true;
  char* copy = copy_string(root);
  if (copy == nullptr) {
    trace(line::kInitRootAlloc, "root = malloc(strlen(rootarg) + 1)");
    return false;
  }
  free(g_root);
  g_root = copy;
  if (!platform::make_folder(g_root)) {
    trace(line::kInitMkdir, "0");
    return false;
  }
  return true;
}

const char* PropRoot() { return g_root; }

void PropRootFree() {
  free(g_root);
  g_root = nullptr;
}

bool PropSetNameValid(const char* setname) {
  if (setname == nullptr || setname[0] == '\0' || setname[0] == '.') return false;
  return strchr(setname, '/') == nullptr;
}

char* get_category_path(const char* category) {
  if (g_root == nullptr || category == nullptr) {
    errno = EINVAL;
    trace(line::kCategoryPathAlloc, "path = malloc(strlen(root) + strlen(category) + 2)");
    return nullptr;
  }
  size_t n = strlen(g_root) + strlen(category) + 2;
  char* path = static_cast<char*>(malloc(n));
  if (path == nullptr) {
    trace(line::kCategoryPathAlloc, "path = malloc(strlen(root) + strlen(category) + 2)");
    return nullptr;
  }
  snprintf(path, n, "%s/%s", g_root, category);
  return path;
}

char* get_set_path(const char* category, const char* setname) {
  if (!PropSetNameValid(setname)) {
    errno = EINVAL;
    trace(line::kSetNameRefused, "PropSetNameValid(setname)");
    return nullptr;
  }
  char* path = get_category_path(category);
  if (path == nullptr) {
    trace(line::kSetPathCategory, "path = (char *)get_category_path(category)");
    return nullptr;
  }
  size_t n = strlen(path) + strlen(setname) + 2;
  char* grown = static_cast<char*>(realloc(path, n));
  if (grown == nullptr) {
    free(path);
    trace(line::kSetPathRealloc, "path = realloc(path, strlen(path) + strlen(setname) + 2)");
    return nullptr;
  }
  strcat(grown, "/");
  strcat(grown, setname);
  return grown;
}

PROPSET* propset_alloc(const char* category, const char* setname) {
  auto* ps = static_cast<PROPSET*>(calloc(1, sizeof(PROPSET)));
  if (ps == nullptr) {
    trace(line::kSetAlloc, "ps = calloc(1, sizeof(PROPSET))");
    return nullptr;
  }
  ps->category = copy_string(category != nullptr ? category : "");
  if (ps->category == nullptr) {
    trace(line::kSetCategoryAlloc, "ps->category = malloc(strlen(category) + 1)");
    free(ps);
    return nullptr;
  }
  if (setname != nullptr) {
    ps->setname = copy_string(setname);
    if (ps->setname == nullptr) {
      trace(line::kSetNameAlloc, "ps->setname = malloc(strlen(setname) + 1)");
      free(ps->category);
      free(ps);
      return nullptr;
    }
  }
  return ps;
}

bool prop_read_stream(PROPSET* ps, FILE* in) {
  char* line = nullptr;
  size_t capacity = 0;
  bool ok = true;
  for (;;) {
    errno = 0;
    ssize_t len = getline(&line, &capacity, in);
    if (len < 0) {
      if (ferror(in)) {
        trace(line::kReadError, "0");
        ok = false;
      }
      break;
    }
    // Lines of any length; "\r\n" from files written elsewhere reads as "\n".
    bool had_newline = len > 0 && line[len - 1] == '\n';
    if (had_newline) line[--len] = '\0';
    if (len > 0 && line[len - 1] == '\r') line[--len] = '\0';

    // The name runs to the first tab after any leading tabs; the value is
    // everything after that tab, further tabs included.
    char* name = line + strspn(line, "\t");
    if (*name == '\0') {
      if (len == 0) continue;  // a blank line holds nothing
      if (!had_newline) {      // only tabs, at the very end of the file
        errno = 0;
        trace(line::kReadNoName, "0");
        ok = false;
        break;
      }
      continue;
    }
    char* tab = strchr(name, '\t');
    const char* value = "";
    if (tab != nullptr) {
      *tab = '\0';
      value = tab + 1;
    }
    if (!PropPutStr(ps, name, -1, value)) {
      trace(line::kReadPut, "PropPutStr(ps, propname, -1, val)");
      ok = false;
      break;
    }
  }
  free(line);
  return ok;
}

bool prop_read(PROPSET* ps, const char* path) {
  FILE* in = fopen(path, "re");
  if (in == nullptr) {
    int err = errno;
    log_printf("prop_read failed to open %s", path);
    log_printf("path: %s", path);
    errno = err;
    trace(line::kReadOpen, "0");
    return false;
  }
  bool ok = prop_read_stream(ps, in);
  fclose(in);
  return ok;
}

PROPSET* PropSetOpen(const char* setname) {
  PROPSET* ps = propset_alloc(kPropCategory, setname);
  if (ps == nullptr) {
    trace(line::kOpenAlloc, "ps = propset_alloc(category, setname)");
    return nullptr;
  }
  if (setname == nullptr) return ps;
  char* path = get_set_path(kPropCategory, setname);
  if (path == nullptr) {
    trace(line::kOpenSetPath, "path_set = get_set_path(category, setname)");
    PropSetFree(ps);
    return nullptr;
  }
  bool ok = prop_read(ps, path);
  free(path);
  if (!ok) {
    trace(line::kOpenRead, "prop_read(ps, path_set)");
    PropSetFree(ps);
    return nullptr;
  }
  ps->changed = false;
  return ps;
}

bool PropSetSave(PROPSET* ps) {
  if (!ps->changed) return true;
  if (ps->setname == nullptr) {
    errno = 0;
    trace(line::kSaveNoName, "0");
    return false;
  }
  char* category_path = get_category_path(ps->category);
  if (category_path == nullptr) {
    trace(line::kSaveCategoryPath, "path_category = get_category_path(ps->category)");
    return false;
  }
  std::string folder = category_path;
  free(category_path);
  if (!platform::make_folder(folder)) {
    trace(line::kSaveMkdir, "0");
    return false;
  }
  char* set_path = get_set_path(ps->category, ps->setname);
  if (set_path == nullptr) {
    trace(line::kSaveSetPath, "path_set = get_set_path(ps->category, ps->setname)");
    return false;
  }
  std::string target = set_path;
  free(set_path);

  std::string temp;
  FILE* out = open_temp_file(folder, ps->setname, &temp);
  if (out == nullptr) {
    trace(line::kSaveOpen, "out = fopen(path_set_dot, \"w\")");
    return false;
  }
  bool ok = write_set(out, ps);
  if (ok && (fflush(out) != 0 || fsync(fileno(out)) != 0)) {
    trace(line::kSaveClose, "fclose(out)");
    ok = false;
  }
  if (fclose(out) != 0 && ok) {
    trace(line::kSaveClose, "fclose(out)");
    ok = false;
  }
  // The old file stays in place until the new one has been written in full;
  // rename then replaces it in one step.
  if (ok && !platform::replace_file(temp, target)) {
    trace(line::kSaveRename, "0");
    ok = false;
  }
  if (!ok) {
    int err = errno;
    unlink(temp.c_str());
    errno = err;
    return false;
  }
  ps->changed = false;
  return true;
}

bool PropSetRename(PROPSET* ps, const char* setname) {
  char* copy = copy_string(setname != nullptr ? setname : "");
  if (copy == nullptr) {
    trace(line::kRenameAlloc, "ps->setname = realloc((char *)ps->setname, strlen(setname) + 1)");
    return false;
  }
  free(ps->setname);
  ps->setname = copy;
  ps->changed = true;
  return PropSetSave(ps);
}

bool PropSetDelete(const char* setname) {
  char* path = get_set_path(kPropCategory, setname);
  if (path == nullptr) {
    trace(line::kDeleteSetPath, "path_set = get_set_path(category, setname)");
    return false;
  }
  bool ok = unlink(path) == 0;
  if (!ok) trace(line::kDeleteUnlink, "unlink(path_set)");
  free(path);
  return ok;
}

bool PropSetEnum(int index, char** setname) {
  *setname = nullptr;
  char* category_path = get_category_path(kPropCategory);
  if (category_path == nullptr) {
    trace(line::kEnumCategoryPath, "path_category = get_category_path(category)");
    return false;
  }
  FileList* list = list_files(category_path);
  free(category_path);
  if (list == nullptr) return true;
  bool ok = true;
  int seen = 0;
  for (int i = 0; i < list->count; ++i) {
    const char* name = list->names[i];
    if (name[0] == '.') continue;
    char* set_path = get_set_path(kPropCategory, name);
    if (set_path == nullptr) {
      trace(line::kEnumSetPath, "path_set = get_set_path(category, d->d_name)");
      ok = false;
      break;
    }
    struct stat st;
    bool regular = stat(set_path, &st) == 0 && S_ISREG(st.st_mode);
    free(set_path);
    if (!regular) continue;
    if (seen++ == index) {
      *setname = copy_string(name);
      if (*setname == nullptr) {
        trace(line::kEnumNameAlloc, "*set = malloc(strlen(d->d_name) + 1)");
        ok = false;
      }
      break;
    }
  }
  free_file_list(list);
  return ok;
}

int PropSetCount() {
  int count = 0;
  for (;;) {
    char* name = nullptr;
    if (!PropSetEnum(count, &name) || name == nullptr) break;
    free(name);
    ++count;
  }
  return count;
}

void propval_free(PROPVAL* pv) {
  if (pv == nullptr) return;
  if (pv->type == PROPVAL_STR) free(pv->v.strval);
  free(pv);
}

void PropSetFree(PROPSET* ps) {
  if (ps == nullptr) return;
  PROP* prop = ps->first;
  while (prop != nullptr) {
    PROP* next_prop = prop->next;
    PROPVAL* pv = prop->first;
    while (pv != nullptr) {
      PROPVAL* next_value = pv->next;
      propval_free(pv);
      pv = next_value;
    }
    free(prop->propname);
    free(prop);
    prop = next_prop;
  }
  free(ps->category);
  free(ps->setname);
  free(ps);
}

PROPVAL* PropGet(PROPSET* ps, const char* propname, int index) {
  if (ps == nullptr || propname == nullptr) return nullptr;
  for (PROP* prop = ps->first; prop != nullptr; prop = prop->next) {
    if (strcasecmp(prop->propname, propname) != 0) continue;
    int i = 0;
    for (PROPVAL* pv = prop->first; pv != nullptr; pv = pv->next, ++i) {
      if (i == index) return pv;
    }
    return nullptr;
  }
  return nullptr;
}

bool prop_put(PROPSET* ps, const char* propname, int index, PROPVAL* pv) {
  pv->next = nullptr;
  PROP* last = nullptr;
  for (PROP* prop = ps->first; prop != nullptr; last = prop, prop = prop->next) {
    if (strcasecmp(prop->propname, propname) != 0) continue;
    PROPVAL** link = &prop->first;
    int i = 0;
    for (PROPVAL* old = prop->first; old != nullptr; link = &old->next, old = old->next, ++i) {
      if (i == index) {
        pv->next = old->next;
        *link = pv;
        propval_free(old);
        ps->changed = true;
        return true;
      }
    }
    *link = pv;  // index -1 or past the end: append
    ps->changed = true;
    return true;
  }
  auto* prop = static_cast<PROP*>(calloc(1, sizeof(PROP)));
  if (prop == nullptr) {
    trace(line::kPutPropAlloc, "newprop = calloc(1, sizeof(PROP))");
    return false;
  }
  prop->propname = copy_string(propname);
  if (prop->propname == nullptr) {
    trace(line::kPutNameAlloc, "newprop->propname = malloc(strlen(propname) + 1)");
    free(prop);
    return false;
  }
  prop->first = pv;
  if (last == nullptr) {
    ps->first = prop;
  } else {
    last->next = prop;
  }
  ps->changed = true;
  return true;
}

PROPVAL* propval_alloc(const char* val) {
  if (val == nullptr) val = "";
  auto* pv = static_cast<PROPVAL*>(calloc(1, sizeof(PROPVAL)));
  if (pv == nullptr) {
    trace(line::kValAlloc, "pv = calloc(1, sizeof(PROPVAL))");
    return nullptr;
  }
  pv->type = PROPVAL_STR;
  pv->v.strval = copy_string(val);
  if (pv->v.strval == nullptr) {
    trace(line::kValStrAlloc, "pv->v.strval = malloc(strlen(val) + 1)");
    free(pv);
    return nullptr;
  }
  for (char* c = pv->v.strval; *c != '\0'; ++c) {
    if (*c == '\r' || *c == '\n') *c = ' ';
  }
  return pv;
}

bool PropPutStr(PROPSET* ps, const char* propname, int index, const char* val) {
  PROPVAL* pv = propval_alloc(val);
  if (pv == nullptr) {
    trace(line::kPutStrAlloc, "pv = propval_alloc(val, 0)");
    return false;
  }
  if (!prop_put(ps, propname, index, pv)) {
    trace(line::kPutStrPut, "prop_put(ps, propname, index, pv)");
    propval_free(pv);
    return false;
  }
  return true;
}

bool PropPutInt(PROPSET* ps, const char* propname, int val) {
  PROPVAL* pv = int_value(val);
  if (pv == nullptr) {
    trace(line::kPutIntAlloc, "pv = calloc(1, sizeof(PROPVAL))");
    return false;
  }
  if (!prop_put(ps, propname, 0, pv)) {
    trace(line::kPutIntPut, "prop_put(ps, propname, index, pv)");
    propval_free(pv);
    return false;
  }
  return true;
}

void PropDelete(PROPSET* ps, const char* propname) {
  PROP** link = &ps->first;
  for (PROP* prop = ps->first; prop != nullptr; link = &prop->next, prop = prop->next) {
    if (strcasecmp(prop->propname, propname) != 0) continue;
    *link = prop->next;
    PROPVAL* pv = prop->first;
    while (pv != nullptr) {
      PROPVAL* next = pv->next;
      propval_free(pv);
      pv = next;
    }
    free(prop->propname);
    free(prop);
    ps->changed = true;
    return;
  }
}
