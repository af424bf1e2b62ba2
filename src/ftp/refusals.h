// Honest replies for changes the volume cannot make: a read-only drive, a
// full volume, a name the volume cannot hold.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vrax::ftp {

inline constexpr const char* kReplyReadOnly =
    "550 Permission denied: the volume is mounted read-only.\r\n";
inline constexpr const char* kReplyVolumeFull =
    "452 Insufficient storage space: the volume is full.\r\n";

// Why the volume cannot hold `name` as the name of a file or directory
// (1 to 28 characters, not beginning with one of / \ * & ; - > < blank #
// ^), or empty when it can.
std::string NameRefusal(const std::string& name);

// "553 File name not allowed: <reason>.\r\n" for a name the volume cannot
// hold, else none.
std::optional<std::string> NameReply(const std::string& name);

// The last component of a volume path.
std::string LastComponent(const std::string& path);

// The reply for a change that failed with the volume's `error` when the
// failure has a reply of its own: read-only drive, full volume, or a name
// (`name`) the volume cannot hold. None otherwise: the command's own reply
// for a failure stands.
std::optional<std::string> ChangeRefusal(int32_t error, const std::string& name);

}  // namespace vrax::ftp
