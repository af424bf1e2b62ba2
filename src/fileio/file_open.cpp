// Opening a file by path and mode string.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "fileio/interface_lock.h"
#include "fileio/last_error.h"
#include "fileio/trace.h"
#include "fileio/vrax_io.h"
#include "platform/error_codes.h"
#include "volume/attributes/attributes.h"
#include "volume/fileops/fileops.h"
#include "volume/toolkit/toolkit.h"

namespace vrax {

namespace {

// 0 when the opened file may be changed: it is open, the drive is
// writable (else "Cannot write - disabled") and its descriptor allows
// writing (5 otherwise), and its name rightly leads to it (114 otherwise).
int32_t MayChange(Toolkit* t) {
  if (t == nullptr || !VRAX_CanWrite() || CheckWritable(t) != kOk) return kErrAccessDenied;
  return CheckNamedRecord(t);
}

// Only a name that is not there yet is created: any other failure of the
// open (drive missing, damaged record) is the answer itself, not a reason
// to try a creation that would fail again or mask it.
int32_t CreateMissing(VRAX_FILE& f, const char* path, int32_t openResult, bool deferred) {
  if (openResult != kErrPathNotFound) return openResult;
  if (!VRAX_CanWrite()) return kErrAccessDenied;
  return ToolkitCreateFile(f.toolkit, path, deferred);
}

// "w": an existing file is emptied. A file that cannot be emptied fails the
// open, since writing from 0 over it would leave its old tail behind the
// new contents.
int32_t OpenForWrite(VRAX_FILE& f, const char* path, int32_t openResult, bool deferred) {
  f.access = kAccessWrite;
  if (f.toolkit == nullptr) return CreateMissing(f, path, openResult, deferred);
  if (const int32_t refused = MayChange(f.toolkit)) return refused;
  return FileTruncate(f.toolkit, 0);
}

// "a": writing starts at the file's current size.
int32_t OpenForAppend(VRAX_FILE& f, const char* path, int32_t openResult, bool deferred) {
  f.access = kAccessWrite;
  if (f.toolkit == nullptr) return CreateMissing(f, path, openResult, deferred);
  if (const int32_t refused = MayChange(f.toolkit)) return refused;
  uint32_t size = 0;
  const int32_t error = FileSize(f.toolkit, size);
  f.position = size;
  return error;
}

// `deferred`: the mode asks for deferred durability ("d").
int32_t ApplyMode(VRAX_FILE& f, const char* path, char mode, int32_t openResult, bool deferred) {
  switch (mode) {
    case 'r':
      f.access = kAccessRead;
      return openResult;
    case 'w':
      return OpenForWrite(f, path, openResult, deferred);
    case 'a':
      return OpenForAppend(f, path, openResult, deferred);
    default:
      return -1;
  }
}

// The characters after the first: "+" gives both directions; reading a
// file that was opened for reading only then needs the right to change it.
// `deferred` ("d") defers durability (vrax_io.h). Everything else (such as
// "b") means nothing here.
int32_t ApplyModifiers(VRAX_FILE& f, const char* modifiers, bool deferred) {
  if (deferred) {
    if (f.toolkit == nullptr) return -1;
    f.toolkit->deferDurability = true;
    NoteDeferredHandle(&f);
  }
  for (const char* c = modifiers; *c != '\0'; ++c) {
    if (*c != '+') continue;
    if ((f.access & kAccessWrite) == 0) {
      if (const int32_t refused = MayChange(f.toolkit)) return refused;
    }
    f.access = kAccessRead | kAccessWrite;
  }
  return kOk;
}

// System records (the root among them) are never opened as files; other
// directories are refused with a message.
int32_t RefuseNonFile(Toolkit* t, const char* path) {
  if (IsSystemRecord(t)) return kErrAccessDenied;
  if (IsDirectory(t)) {
    std::fprintf(stderr, "fopen %s is a directory\n", path);
    return kErrAccessDenied;
  }
  return kOk;
}

int32_t OpenFile(VRAX_FILE& f, const char* path, const char* mode) {
  int32_t result = ToolkitOpen(f.toolkit, path);
  if (result == kOk) {
    if (const int32_t refused = RefuseNonFile(f.toolkit, path)) return refused;
  }
  const bool deferred = mode[0] != '\0' && std::strchr(mode + 1, 'd') != nullptr;
  result = ApplyMode(f, path, mode[0], result, deferred);
  if (result != kOk) return result;
  result = ApplyModifiers(f, mode + 1, deferred);
  if (result != kOk) return result;
  return f.toolkit != nullptr && f.access != 0 ? kOk : -1;
}

}  // namespace

VRAX_FILE* VRAX_fopen64(const char* path, const char* mode) {
  Trace("-> VRAX_fopen64(\"%s\",\"%s\")\n", Shown(path), Shown(mode));
  const InterfaceCall call;
  std::unique_ptr<VRAX_FILE> file(new (std::nothrow) VRAX_FILE);
  int32_t error = kErrNotEnoughMemory;
  if (file) error = OpenFile(*file, path, mode != nullptr ? mode : "");
  if (error == kOk) return file.release();
  if (file) {
    ForgetDeferredHandle(file.get());
    ToolkitClose(file->toolkit);
  }
  std::fprintf(stderr, "Cannot open for %s: %s\n", Shown(mode), Shown(path));
  VRAX_PrintError(NoteError(error));
  return nullptr;
}

}  // namespace vrax
