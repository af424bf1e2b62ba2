#include "platform/tls.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <csignal>

namespace vrax {

namespace {

// Sessions resumed on data connections must come from this server.
constexpr unsigned char kSessionContext[] = "vrax-ftp";

std::string LastTlsError(const char* fallback) {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return fallback;
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

}  // namespace

std::unique_ptr<TlsServerContext> TlsServerContext::Load(const std::string& pemFile,
                                                         std::string* error) {
  std::signal(SIGPIPE, SIG_IGN);  // the TLS library writes with write()
  SSL_CTX* context = SSL_CTX_new(TLS_server_method());
  if (context == nullptr) {
    *error = LastTlsError("cannot create a TLS context");
    return nullptr;
  }
  SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
  // A peer that closes without close_notify ends the stream as one with it.
  SSL_CTX_set_options(context, SSL_OP_NO_RENEGOTIATION | SSL_OP_IGNORE_UNEXPECTED_EOF);
  SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_SERVER);
  SSL_CTX_set_session_id_context(context, kSessionContext, sizeof kSessionContext - 1);
  SSL_CTX_set_mode(context, SSL_MODE_AUTO_RETRY);
  if (SSL_CTX_use_certificate_chain_file(context, pemFile.c_str()) != 1) {
    *error = "the certificate in " + pemFile + " cannot be used: " + LastTlsError("unreadable");
  } else if (SSL_CTX_use_PrivateKey_file(context, pemFile.c_str(), SSL_FILETYPE_PEM) != 1) {
    *error = "the private key in " + pemFile + " cannot be used: " + LastTlsError("unreadable");
  } else if (SSL_CTX_check_private_key(context) != 1) {
    *error = "the private key in " + pemFile + " does not match its certificate";
  } else {
    return std::unique_ptr<TlsServerContext>(new TlsServerContext(context));
  }
  ERR_clear_error();
  SSL_CTX_free(context);
  return nullptr;
}

TlsServerContext::~TlsServerContext() { SSL_CTX_free(context_); }

std::unique_ptr<TlsStream> TlsStream::Accept(const TlsServerContext& context, SocketHandle socket) {
  SSL* ssl = SSL_new(context.handle());
  if (ssl == nullptr) return nullptr;
  if (SSL_set_fd(ssl, socket) != 1 || SSL_accept(ssl) != 1) {
    ERR_clear_error();
    SSL_free(ssl);
    return nullptr;
  }
  return std::unique_ptr<TlsStream>(new TlsStream(ssl, socket));
}

TlsStream::~TlsStream() { SSL_free(ssl_); }

long TlsStream::Send(const void* data, size_t size, int timeoutMilliseconds) {
  const auto* bytes = static_cast<const char*>(data);
  size_t sent = 0;
  while (sent < size) {
    size_t written = 0;
    if (SSL_write_ex(ssl_, bytes + sent, size - sent, &written) == 1) {
      sent += written;
      continue;
    }
    const int reason = SSL_get_error(ssl_, 0);
    ERR_clear_error();
    if (reason != SSL_ERROR_WANT_WRITE && reason != SSL_ERROR_WANT_READ) return -1;
    const SocketReadiness ready =
        SocketWait(socket_, reason == SSL_ERROR_WANT_WRITE, kInvalidSocket, timeoutMilliseconds);
    if (ready.failed || !ready.ready) return -1;
  }
  return static_cast<long>(sent);
}

long TlsStream::Receive(void* buffer, size_t size) {
  size_t got = 0;
  if (SSL_read_ex(ssl_, buffer, size, &got) == 1) return static_cast<long>(got);
  const int reason = SSL_get_error(ssl_, 0);
  ERR_clear_error();
  if (reason == SSL_ERROR_WANT_READ || reason == SSL_ERROR_WANT_WRITE) {
    // A blocking socket reports its receive timeout this way too.
    return nonBlocking_ ? kWouldBlock : -1;
  }
  return reason == SSL_ERROR_ZERO_RETURN ? 0 : -1;
}

bool TlsStream::SetNonBlocking() {
  nonBlocking_ = SocketSetNonBlocking(socket_, true);
  return nonBlocking_;
}

bool TlsStream::Pending() const { return SSL_pending(ssl_) > 0; }

void TlsStream::Close() {
  if (closed_) return;
  closed_ = true;
  SSL_shutdown(ssl_);
  ERR_clear_error();
}

}  // namespace vrax
