// The lines of a listing, gathered into blocks of about kListBlockBytes:
// one send per block instead of one per line. Flush sends what is left and
// must come before the listing's final reply.
#pragma once

#include <string>

#include "ftp/ftp_client.h"

namespace vrax::ftp {

class ListingOutput {
 public:
  // `control`: the lines go on the control connection (STAT), else on the
  // data connection, which a failed send shuts down.
  ListingOutput(FtpClient* client, bool control) : client_(client), control_(control) {}
  ListingOutput(const ListingOutput&) = delete;
  ListingOutput& operator=(const ListingOutput&) = delete;
  ~ListingOutput() { Flush(); }

  void Add(const std::string& line);
  void Flush();

 private:
  FtpClient* client_;
  bool control_;
  std::string pending_;
};

}  // namespace vrax::ftp
