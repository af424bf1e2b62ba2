#include "ftp/listing_output.h"

#include "ftp/ftp_limits.h"
#include "ftp/ftp_server.h"
#include "ftp/secure_channel.h"

namespace vrax::ftp {

void ListingOutput::Add(const std::string& line) {
  pending_ += line;
  if (pending_.size() >= kListBlockBytes) Flush();
}

void ListingOutput::Flush() {
  if (pending_.empty()) return;
  if (control_) {
    client_->server->SendControl(client_, pending_.data(), pending_.size());
  } else {
    SendDataOrShut(client_, pending_.data(), pending_.size());
  }
  pending_.clear();
}

}  // namespace vrax::ftp
