#include "target.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "exit_codes.h"
#include "volume/format/boot_sector.h"

namespace vrax::mkfs {

namespace {

int HostFailure(const std::string& what, const Target& t, std::string& error) {
  error = what + " " + t.path + ": " + std::strerror(errno);
  return kExitIo;
}

int Refuse(const std::string& why, const Target& t, std::string& error) {
  error = t.path + ": " + why;
  return kExitRefused;
}

int LockTarget(Target& t, std::string& error) {
  if (flock(t.fd, LOCK_EX | LOCK_NB) == 0) return kExitOk;
  if (errno == EWOULDBLOCK) return Refuse("in use by another program", t, error);
  return HostFailure("cannot lock", t, error);
}

int OpenExisting(Target& t, int extraFlags, std::string& error) {
  t.fd = open(t.path.c_str(), O_RDWR | O_CLOEXEC | extraFlags);
  if (t.fd < 0 && errno == EBUSY) return Refuse("in use (mounted or opened exclusively)", t, error);
  if (t.fd < 0) return HostFailure("cannot open", t, error);
  return LockTarget(t, error);
}

int MeasureDevice(Target& t, std::string& error) {
  uint64_t bytes = 0;
  if (ioctl(t.fd, BLKGETSIZE64, &bytes) != 0) return HostFailure("cannot measure", t, error);
  t.capacity = bytes;
  return kExitOk;
}

}  // namespace

int OpenTarget(const std::string& path, Target& t, std::string& error) {
  t = Target{};
  t.path = path;
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return kExitOk;  // a new image file
    return HostFailure("cannot examine", t, error);
  }
  if (S_ISREG(st.st_mode)) {
    t.kind = TargetKind::kImageFile;
    const int code = OpenExisting(t, 0, error);
    t.capacity = static_cast<uint64_t>(st.st_size);
    return code;
  }
  if (S_ISBLK(st.st_mode)) {
    t.kind = TargetKind::kBlockDevice;
    const int code = OpenExisting(t, O_EXCL, error);
    return code == kExitOk ? MeasureDevice(t, error) : code;
  }
  return Refuse("neither a regular file nor a block device", t, error);
}

int CreateImage(Target& t, std::string& error) {
  t.fd = open(t.path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (t.fd < 0 && errno == EEXIST)
    return Refuse("appeared while formatting; not replaced", t, error);
  if (t.fd < 0) return HostFailure("cannot create", t, error);
  t.kind = TargetKind::kImageFile;
  t.created = true;
  return LockTarget(t, error);
}

int HoldsVolume(Target& t, bool& holds, std::string& error) {
  uint8_t head[11] = {};
  const ssize_t got = pread(t.fd, head, sizeof head, 0);
  if (got < 0) return HostFailure("cannot read", t, error);
  holds =
      got == static_cast<ssize_t>(sizeof head) && std::memcmp(head + 3, kVolumeIdentifier, 8) == 0;
  return kExitOk;
}

int PrepareTarget(Target& t, uint64_t bytes, std::string& error) {
  if (t.kind != TargetKind::kImageFile) return kExitOk;
  // Emptying the file first drops every old byte; growing it back leaves a
  // hole that reads as zeros.
  if (ftruncate(t.fd, 0) != 0 || ftruncate(t.fd, static_cast<off_t>(bytes)) != 0) {
    return HostFailure("cannot resize", t, error);
  }
  t.capacity = bytes;
  return kExitOk;
}

int WriteTarget(Target& t, const std::vector<uint8_t>& data, uint64_t offset, std::string& error) {
  if (offset > t.capacity || data.size() > t.capacity - offset) {
    error = t.path + ": write beyond the end refused";
    return kExitIo;
  }
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n =
        pwrite(t.fd, data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = EIO;  // no progress without a reason given
    if (n <= 0) return HostFailure("cannot write", t, error);
    done += static_cast<size_t>(n);
  }
  return kExitOk;
}

int SyncTarget(Target& t, std::string& error) {
  if (fsync(t.fd) != 0) return HostFailure("cannot flush", t, error);
  return kExitOk;
}

void CloseTarget(Target& t, bool failed) {
  if (t.fd >= 0) close(t.fd);
  t.fd = -1;
  if (failed && t.created) unlink(t.path.c_str());
}

}  // namespace vrax::mkfs
