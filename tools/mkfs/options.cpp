#include "options.h"

#include <string_view>

#include "exit_codes.h"
#include "size_text.h"

namespace vrax::mkfs {

namespace {

// The option fields that take a size, by option name; null for a name that
// takes none.
std::optional<uint64_t>* SizeField(MkfsOptions& o, std::string_view name) {
  if (name == "--size") return &o.size;
  if (name == "--sector-size") return &o.sectorSize;
  if (name == "--cluster-size") return &o.clusterSize;
  if (name == "--record-size") return &o.recordSize;
  if (name == "--index-size") return &o.indexSize;
  return nullptr;
}

// The option fields that are switched on by their name alone.
bool* FlagField(MkfsOptions& o, std::string_view name) {
  if (name == "--force") return &o.force;
  if (name == "--help" || name == "-h") return &o.help;
  return nullptr;
}

class ArgumentReader {
 public:
  ArgumentReader(int argc, char** argv) : argc_(argc), argv_(argv) {}
  bool Done() const { return next_ >= argc_; }
  std::string_view Take() { return argv_[next_++]; }

 private:
  int argc_;
  char** argv_;
  int next_ = 1;
};

int SetTarget(MkfsOptions& o, std::string_view arg, std::string& error) {
  if (!o.target.empty()) {
    error = "more than one target given: " + o.target + " and " + std::string(arg);
    return kExitUsage;
  }
  if (arg.empty()) {
    error = "the target must not be empty";
    return kExitUsage;
  }
  o.target = arg;
  return kExitOk;
}

// The value of an option: attached after "=", or the next argument.
bool TakeValue(std::string_view arg, ArgumentReader& args, std::string_view& value) {
  const size_t equals = arg.find('=');
  if (equals != std::string_view::npos) {
    value = arg.substr(equals + 1);
    return true;
  }
  if (args.Done()) return false;
  value = args.Take();
  return true;
}

// The option fields that take a text.
std::string* TextField(MkfsOptions& o, std::string_view name) {
  if (name == "--from") return &o.from;
  return nullptr;
}

int ParseTextOption(std::string* field, const std::string& name, std::string_view arg,
                    ArgumentReader& args, std::string& error) {
  std::string_view value;
  if (!TakeValue(arg, args, value) || value.empty()) {
    error = "option " + name + " needs a value";
    return kExitUsage;
  }
  *field = value;
  return kExitOk;
}

// Handles one option argument, taking its value along.
int ParseOption(MkfsOptions& o, std::string_view arg, ArgumentReader& args, std::string& error) {
  if (bool* flag = FlagField(o, arg)) {
    *flag = true;
    return kExitOk;
  }
  const std::string name(arg.substr(0, arg.find('=')));
  if (std::string* text = TextField(o, name)) return ParseTextOption(text, name, arg, args, error);
  std::optional<uint64_t>* field = SizeField(o, name);
  if (field == nullptr) {
    error = "unknown option " + std::string(arg);
    return kExitUsage;
  }
  std::string_view value;
  if (!TakeValue(arg, args, value)) {
    error = "option " + name + " needs a value";
    return kExitUsage;
  }
  *field = ParseSizeText(value);
  if (!*field) {
    error = "option " + name + ": '" + std::string(value) +
            "' is not a size (digits with an optional K, M or G suffix)";
    return kExitGeometry;
  }
  return kExitOk;
}

}  // namespace

int ParseOptions(int argc, char** argv, MkfsOptions& options, std::string& error) {
  ArgumentReader args(argc, argv);
  bool optionsEnded = false;
  while (!args.Done()) {
    const std::string_view arg = args.Take();
    int code = kExitOk;
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
      code = ParseOption(options, arg, args, error);
    } else {
      code = SetTarget(options, arg, error);
    }
    if (code != kExitOk) return code;
  }
  if (options.target.empty() && !options.help) {
    error = "no target given";
    return kExitUsage;
  }
  return kExitOk;
}

std::string HelpText() {
  return "usage: vrax-mkfs [--size BYTES] [--sector-size 512|4096] [--cluster-size BYTES]\n"
         "                 [--record-size BYTES] [--index-size BYTES] [--from DIR]\n"
         "                 [--force] TARGET\n"
         "\n"
         "Writes an empty VRAX volume to TARGET, an image file or a block device.\n"
         "An image file that does not exist is created with --size bytes (sparse);\n"
         "an existing one is resized to --size, or keeps its size without it. A block\n"
         "device is used whole, or its first --size bytes.\n"
         "Sizes are bytes, or a number with a K, M or G suffix (powers of 1024).\n"
         "\n"
         "  --size BYTES          volume size (required for a new image file)\n"
         "  --sector-size N       bytes per sector: 512 (default) or 4096\n"
         "  --cluster-size BYTES  power of two, a multiple of the sector size, at most\n"
         "                        128 sectors and 64K (default 4096)\n"
         "  --record-size BYTES   file record size, power of two from 1K to 64K\n"
         "                        (default 1024; 4096 with 4096-byte sectors)\n"
         "  --index-size BYTES    directory index block size, power of two from 4K to\n"
         "                        64K, a multiple of the cluster size\n"
         "                        (default 4096, or the cluster size when larger)\n"
         "  --from DIR            copy the files and folders below DIR into the new\n"
         "                        volume, with their modification times; entries the\n"
         "                        volume cannot hold are reported and left out\n"
         "  --force               overwrite a target that already holds a volume\n"
         "  --help                print this text\n"
         "\n"
         "Exit codes:\n"
         "  0  the volume was written\n"
         "  1  usage error (unknown option, missing value or target)\n"
         "  2  impossible geometry or a bad value\n"
         "  3  target refused: wrong kind, in use, or already holds a volume\n"
         "  4  I/O error, or the new volume failed while --from copied into it\n";
}

}  // namespace vrax::mkfs
