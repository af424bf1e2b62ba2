// The command line of vrax-mkfs:
//   vrax-mkfs [--size BYTES] [--sector-size 512|4096] [--cluster-size BYTES]
//             [--record-size BYTES] [--index-size BYTES] [--from DIR] [--force] TARGET
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vrax::mkfs {

// What the command line asked for. Sizes left out are empty: the geometry
// (geometry.h) fills in the defaults, which depend on one another.
struct MkfsOptions {
  std::optional<uint64_t> size;
  std::optional<uint64_t> sectorSize;
  std::optional<uint64_t> clusterSize;
  std::optional<uint64_t> recordSize;
  std::optional<uint64_t> indexSize;
  std::string from;  // a host folder whose tree is copied in; empty for none
  bool force = false;
  bool help = false;
  std::string target;
};

// Parses argv[1..argc-1]. Options may be written "--name VALUE" or
// "--name=VALUE"; "--" ends the options. Returns an exit code (exit_codes.h):
// kExitOk, kExitUsage for an unknown option, a missing value, a missing or
// second target, kExitGeometry for a value that is not a size. `error` then
// says what was wrong. With --help nothing else is required.
int ParseOptions(int argc, char** argv, MkfsOptions& options, std::string& error);

// The text printed by --help: synopsis, options, defaults and exit codes.
std::string HelpText();

}  // namespace vrax::mkfs
