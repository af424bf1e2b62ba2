// The lines that say why start-up failed. The calls that fail (mounting the
// drive, listening) only report success or failure, so each line finds its
// reason by repeating the failed step's first host call right afterwards:
// the host answers the same way while nothing has changed in between.
#pragma once

#include <string>

#include "app/options.h"

namespace vrax::app {

// "----> Unable to Mount Drive /1 (path): error N, <system text>\n". Call it
// while the failed mount object still exists: a drive whose disk opened but
// whose volume did not stays installed until then, and its volume's error
// is read from it.
std::string MountFailureText(const Options& options, const std::string& drive);

// "----> Unable to Listen: <system text>\n", the text of the error that
// binding the port as the server binds it (-l's address, or every address)
// gives now.
std::string ListenFailureText(const Options& options);

// "----> Unable to Create FtpUser\n", naming the cause when it is the
// anonymous account holding the login name already.
std::string AccountFailureText(const Options& options);

}  // namespace vrax::app
