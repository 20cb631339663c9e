#include "tools/cli/session_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace docsec::cli {

namespace {

std::string Directory() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime == '/') return std::string(runtime) + "/docsec";
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr && *home ? home : "/tmp") + "/.cache/docsec";
}

// Makes each missing component of `path` with mode 0700.
bool MakeDirectories(const std::string& path) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string part = path.substr(0, slash);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) return true;
  }
}

}  // namespace

SessionFile::SessionFile() : path_(Directory() + "/session.json") {}

int64_t SessionFile::Now() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

bool SessionFile::Load(SavedSession* session, std::string* error) const {
  const int fd = open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    *error = "not logged in (run: docsec login)";
    return false;
  }
  struct stat info {};
  const bool safe = fstat(fd, &info) == 0 && info.st_uid == getuid() && (info.st_mode & 077) == 0;
  std::string text;
  char buffer[4096];
  ssize_t n;
  while (safe && (n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, n);
  close(fd);
  if (!safe) {
    *error = "the session file " + path_ + " is not private to you; log in again";
    return false;
  }
  try {
    const nlohmann::json json = nlohmann::json::parse(text);
    session->target = json.at("target").get<std::string>();
    session->account = json.at("account").get<std::string>();
    session->token = json.at("token").get<std::string>();
    session->opened = json.at("opened").get<int64_t>();
    session->last_used = json.at("lastUsed").get<int64_t>();
    // Sessions saved before trust was kept with them have neither: the system's authorities.
    session->ca_file = json.value("caFile", std::string());
    session->insecure = json.value("insecure", false);
  } catch (const nlohmann::json::exception&) {
    *error = "the session file " + path_ + " is damaged; log in again";
    return false;
  }
  const int64_t now = Now();
  if (now - session->last_used > kIdle.count() || now - session->opened > kLifetime.count() ||
      now < session->opened) {
    Remove();
    *error = "the session has expired (run: docsec login)";
    return false;
  }
  return true;
}

bool SessionFile::Save(const SavedSession& session, std::string* error) const {
  const std::string directory = path_.substr(0, path_.rfind('/'));
  if (!MakeDirectories(directory)) {
    *error = "cannot make " + directory + ": " + std::strerror(errno);
    return false;
  }
  const nlohmann::json json = {{"target", session.target},      {"account", session.account},
                               {"token", session.token},        {"opened", session.opened},
                               {"lastUsed", session.last_used}, {"caFile", session.ca_file},
                               {"insecure", session.insecure}};
  const std::string text = json.dump() + "\n";
  const std::string temporary = path_ + ".tmp";
  unlink(temporary.c_str());
  const int fd =
      open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  bool ok = fd >= 0 && fchmod(fd, 0600) == 0 &&
            write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  if (fd >= 0) ok = close(fd) == 0 && ok;
  ok = ok && rename(temporary.c_str(), path_.c_str()) == 0;
  if (!ok) {
    *error = "cannot write " + path_ + ": " + std::strerror(errno);
    unlink(temporary.c_str());
  }
  return ok;
}

bool SessionFile::Remove() const { return unlink(path_.c_str()) == 0; }

}  // namespace docsec::cli
