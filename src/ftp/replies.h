// Replies that several commands give in the same words.
#pragma once

namespace vrax::ftp {

inline constexpr const char* kReplyArgumentCount = "501 Invalid number of arguments.\r\n";
inline constexpr const char* kReplySyntax = "501 Syntax error in arguments.\r\n";
inline constexpr const char* kReplyPermission = "550 Permission denied.\r\n";
// A command that needs the data connection while a transfer runs.
inline constexpr const char* kReplyAlreadyConnected = "425 You're already connected.\r\n";

}  // namespace vrax::ftp
