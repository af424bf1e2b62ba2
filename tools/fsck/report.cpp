#include "report.h"

#include <cstdarg>
#include <vector>

namespace vrax::fsck {

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text;
  if (needed > 0) {
    std::vector<char> buffer(static_cast<size_t>(needed) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    text.assign(buffer.data(), static_cast<size_t>(needed));
  }
  va_end(args);
  return text;
}

std::string QuoteName(const std::string& name) {
  std::string out = "\"";
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte > 0x7E || c == '"' || c == '\\') {
      out += Format("\\x%02X", byte);
    } else {
      out += c;
    }
  }
  return out + "\"";
}

void Report::Print(const char* prefix, const std::string& line) const {
  if (out_ == nullptr) return;
  std::fprintf(out_, "%s%s\n", prefix, line.c_str());
  std::fflush(out_);
}

void Report::Problem(const std::string& line) {
  ++problems_;
  Print("", line);
}

void Report::Leak(const std::string& line) {
  ++leaks_;
  Print("leak: ", line);
}

void Report::Note(const std::string& line) {
  if (verbose_) Print("note: ", line);
}

void Report::Repaired(const std::string& line) { Print("repaired: ", line); }

void Report::PrintSummary() const {
  if (out_ == nullptr) return;
  std::fprintf(out_, "records in use: %llu\n",
               static_cast<unsigned long long>(summary.recordsInUse));
  std::fprintf(out_, "directories: %llu\n", static_cast<unsigned long long>(summary.directories));
  std::fprintf(out_, "files: %llu\n", static_cast<unsigned long long>(summary.files));
  std::fprintf(out_, "file data bytes: %llu\n", static_cast<unsigned long long>(summary.fileBytes));
  std::fprintf(out_, "free clusters: %llu of %llu\n",
               static_cast<unsigned long long>(summary.freeClusters),
               static_cast<unsigned long long>(summary.clusterCount));
  std::fflush(out_);
}

}  // namespace vrax::fsck
