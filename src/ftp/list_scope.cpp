#include "ftp/list_scope.h"

#include "fileio/vrax_io.h"
#include "ftp/ftp_server.h"
#include "ftp/name_glob.h"

namespace vrax::ftp {

namespace {

// Builds and examines `typed`; false when it cannot be built or named nothing.
bool Examine(const std::string& startPath, const std::string& currentDirectory,
             std::string typed, ListScope& scope) {
  const std::optional<std::string> path =
      CFtpServer::BuildPath(startPath.c_str(), currentDirectory.c_str(), &typed);
  if (!path || VRAX_stat64(path->c_str(), &scope.record) != 0) return false;
  scope.path = *path;
  return true;
}

}  // namespace

ListScope ResolveListScope(const std::string& startPath, const std::string& currentDirectory,
                           const std::string& typed) {
  ListScope scope;
  const size_t slash = typed.find_last_of("/\\");
  const size_t nameAt = slash == std::string::npos ? 0 : slash + 1;
  if (HasWildcard(typed.substr(nameAt))) {
    scope.shownPrefix = typed.substr(0, nameAt);
    scope.pattern = typed.substr(nameAt);
    if (Examine(startPath, currentDirectory, scope.shownPrefix, scope) &&
        S_ISDIR(scope.record.st_mode)) {
      scope.kind = ListScope::kDirectory;
    }
    return scope;
  }
  if (Examine(startPath, currentDirectory, typed, scope)) {
    scope.kind = S_ISDIR(scope.record.st_mode) ? ListScope::kDirectory : ListScope::kFile;
    scope.shownName = typed;
  }
  return scope;
}

}  // namespace vrax::ftp
