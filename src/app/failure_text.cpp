#include "app/failure_text.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "blockdev/block_device.h"
#include "blockdev/drive_table.h"
#include "fileio/vrax_io.h"
#include "platform/corruption.h"
#include "platform/error_codes.h"
#include "platform/error_text.h"
#include "platform/host_disk.h"
#include "platform/settings.h"
#include "platform/sockets.h"

namespace vrax::app {

namespace {

// When the repeated step works: the failure has passed by itself.
constexpr const char* kNoReason = "no reason found (a second try worked)";

std::string HostPath(const Options& o, const std::string& drive) {
  return o.image.empty() ? HostDiskPathForDrive(DriveNumberFromName(drive.c_str())) : o.image;
}

// The error of opening the disk as the mount opens it (mode, lock, caching)
// and reading its geometry; 0 when both work now.
int32_t DiskOpenError(const std::string& path, bool writable) {
  HostDisk disk;
  int32_t error = HostDiskOpen(path, writable, g_noBuffering != 0, disk);
  if (error == kOk) {
    error = HostDiskGeometry(disk);
    HostDiskClose(disk);
  }
  return error;
}

// A drive left installed means its disk opened and its volume did not:
// opening the volume's root again gives the volume's own error.
int32_t MountError(const Options& o, const std::string& drive) {
  ClearCorruptionSite();  // the site shown is that of this error
  if (CurrentDrive() != nullptr) {
    struct stat record;
    return VRAX_stat64(drive.c_str(), &record);
  }
  return DiskOpenError(HostPath(o, drive), o.readOnly == 0);
}

std::string ErrorDescription(int32_t error) {
  if (error == kOk) return kNoReason;
  std::string text = "error " + std::to_string(error);
  const char* message = SystemErrorText(error);
  if (message == nullptr) return text;
  text += ", ";
  text += message;
  if (!text.empty() && text.back() == '\n') text.pop_back();
  if (error == kErrBadStructure || error == kErrBadArguments) {
    text += " (the disk holds no VRAX volume, or a damaged one: see vrax-fsck)";
  }
  const std::string site = LastCorruptionSite();
  if (error == kErrBadStructure && !site.empty()) text += " [detected at " + site + "]";
  return text;
}

// Fills `storage` with `address`:`port`; returns the length used.
socklen_t SocketAddressOf(const NetAddress& address, uint16_t port, sockaddr_storage& storage) {
  storage = sockaddr_storage{};
  if (address.ipv6) {
    auto& v6 = reinterpret_cast<sockaddr_in6&>(storage);
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(port);
    std::memcpy(&v6.sin6_addr, address.bytes, 16);
    return sizeof v6;
  }
  auto& v4 = reinterpret_cast<sockaddr_in&>(storage);
  v4.sin_family = AF_INET;
  v4.sin_port = htons(port);
  std::memcpy(&v4.sin_addr, address.bytes, 4);
  return sizeof v4;
}

// The errno of binding `address`:`port` and listening there, with address
// reuse on as the server has it; 0 when both work now.
int BindErrno(const NetAddress& address, bool v6only, uint16_t port) {
  const int s = socket(address.ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
  if (s < 0) return errno;
  const int on = 1;
  const int v6 = v6only ? 1 : 0;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (address.ipv6) setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, &v6, sizeof v6);
  sockaddr_storage storage;
  const socklen_t length = SocketAddressOf(address, port, storage);
  const bool ok = bind(s, reinterpret_cast<const sockaddr*>(&storage), length) == 0 &&
                  listen(s, 1) == 0;
  const int error = ok ? 0 : errno;
  close(s);
  return error;
}

// As the server binds: the one address asked for, else every address of
// both families, else (no IPv6 on the host) every IPv4 address.
int ListenErrno(const Options& o) {
  const auto port = static_cast<uint16_t>(o.port);
  NetAddress chosen;
  if (!o.listenAddress.empty() && ParseNetAddress(o.listenAddress, &chosen)) {
    return BindErrno(chosen, true, port);
  }
  const int dual = BindErrno(AnyAddress(true), false, port);
  if (dual != EAFNOSUPPORT && dual != EADDRNOTAVAIL) return dual;
  return BindErrno(AnyAddress(false), false, port);
}

}  // namespace

std::string MountFailureText(const Options& o, const std::string& drive) {
  return "----> Unable to Mount Drive " + drive + " (" + HostPath(o, drive) +
         "): " + ErrorDescription(MountError(o, drive)) + "\n";
}

std::string ListenFailureText(const Options& o) {
  const int error = ListenErrno(o);
  const std::string why = error != 0 ? std::strerror(error) : kNoReason;
  return "----> Unable to Listen: " + why + "\n";
}

std::string AccountFailureText(const Options& o) {
  if (o.anonymous && strcasecmp(o.login.c_str(), "anonymous") == 0) {
    return "----> Unable to Create FtpUser: the name " + o.login +
           " belongs to the anonymous account (-a)\n";
  }
  return "----> Unable to Create FtpUser\n";
}

}  // namespace vrax::app
