// TLS for the server's connections, over the host's TLS library.
//
// A TlsServerContext holds the certificate and private key (one PEM file)
// and a cache of sessions, so that a client may resume on its data
// connections the session of its control connection. A TlsStream is the
// server end of one TLS connection on a connected socket.
//
// Threads: a stream is not safe for concurrent use; its owner serialises
// the calls. Failed writes never raise SIGPIPE (it is ignored once a
// context exists).
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/sockets.h"

struct ssl_ctx_st;
struct ssl_st;

namespace vrax {

class TlsServerContext {
 public:
  // The context for `pemFile`, or null with `*error` saying why.
  static std::unique_ptr<TlsServerContext> Load(const std::string& pemFile, std::string* error);
  ~TlsServerContext();
  TlsServerContext(const TlsServerContext&) = delete;
  TlsServerContext& operator=(const TlsServerContext&) = delete;

  ssl_ctx_st* handle() const { return context_; }

 private:
  explicit TlsServerContext(ssl_ctx_st* context) : context_(context) {}
  ssl_ctx_st* context_;
};

class TlsStream {
 public:
  // Receive found no complete record yet on a non-blocking socket.
  static constexpr long kWouldBlock = -2;

  // The handshake as server on `socket` (blocking, bounded by the socket's
  // timeouts); null when it fails.
  static std::unique_ptr<TlsStream> Accept(const TlsServerContext& context, SocketHandle socket);
  ~TlsStream();
  TlsStream(const TlsStream&) = delete;
  TlsStream& operator=(const TlsStream&) = delete;

  // Sends all `size` bytes; waits at most `timeoutMilliseconds` each time
  // the socket cannot take more. The count, or -1.
  long Send(const void* data, size_t size, int timeoutMilliseconds);
  // Bytes received (> 0), 0 at the end of the stream (the peer's
  // close_notify or the connection's end), -1 on an error, kWouldBlock.
  long Receive(void* buffer, size_t size);
  // Makes the socket non-blocking: Receive then returns kWouldBlock
  // instead of waiting, and Send waits only as long as it is told.
  bool SetNonBlocking();
  // Decrypted bytes wait in the stream: a receive returns them without
  // the socket becoming readable.
  bool Pending() const;
  // Sends close_notify (once), without waiting for the peer's.
  void Close();

 private:
  TlsStream(ssl_st* ssl, SocketHandle socket) : ssl_(ssl), socket_(socket) {}
  ssl_st* ssl_;
  SocketHandle socket_;
  bool closed_ = false;
  bool nonBlocking_ = false;
};

}  // namespace vrax
