#include "support/tool_runs.h"

#include <sys/wait.h>

#include <cstdlib>
#include <sstream>
#include <stdexcept>

#include "support/temp_file.h"

namespace vrax::test {

namespace {

std::string Quote(const std::string& s) {
  std::string quoted = "'";
  for (const char c : s) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

int Run(const std::string& command) {
  const int status = std::system(command.c_str());
  return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int FormatVolume(const std::string& image, const std::string& arguments) {
  return Run(Quote(VRAX_MKFS_PATH) + " --force " + arguments + " " + Quote(image) + " > " +
             Quote(image + ".log") + " 2>&1");
}

void FormatImage(const std::string& image, const std::string& arguments) {
  if (FormatVolume(image, arguments) != 0) {
    throw std::runtime_error("vrax-mkfs " + arguments + " failed");
  }
}

int RunMkfs(const std::vector<std::string>& args) {
  std::string command = Quote(VRAX_MKFS_PATH);
  for (const std::string& a : args) command += " " + Quote(a);
  return Run(command + " >/dev/null 2>&1 </dev/null");
}

bool CheckerResult::Has(const std::string& text) const {
  return output.find(text) != std::string::npos;
}

CheckerResult RunChecker(const std::string& image, const std::string& options) {
  const std::string out = image + ".fsck", err = image + ".fsck-err";
  CheckerResult result;
  result.exitCode = Run(
      "ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}exitcode=86 "
      "UBSAN_OPTIONS=${UBSAN_OPTIONS:+$UBSAN_OPTIONS:}exitcode=86 timeout 120 " +
      Quote(VRAX_FSCK_PATH) + " " + options + " " + Quote(image) + " >" + Quote(out) + " 2>" +
      Quote(err));
  const std::vector<uint8_t> output = ReadFileBytes(out), errors = ReadFileBytes(err);
  result.output.assign(output.begin(), output.end());
  result.errors.assign(errors.begin(), errors.end());
  std::istringstream lines(result.output);
  for (std::string line; std::getline(lines, line);) result.lines.push_back(line);
  return result;
}

}  // namespace vrax::test
