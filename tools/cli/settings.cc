#include "tools/cli/settings.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace docsec::cli {

const char kSettingsHelp[] =
    "Settings are taken from the first place that gives them:\n"
    "  1. the command's flags (--server, --ca-file, --insecure, --output, --json);\n"
    "  2. the environment: DOCSEC_SERVER, DOCSEC_CA_FILE, DOCSEC_VERIFY_PEER=0,\n"
    "     DOCSEC_CONNECT_TIMEOUT_MS, DOCSEC_TIMEOUT_MS, DOCSEC_OUTPUT, and the file\n"
    "     DOCSEC_TRANSPORT_CONFIG names;\n"
    "  3. the profile of $XDG_CONFIG_HOME/docsec/config (or ~/.config/docsec/config) named by\n"
    "     --profile or DOCSEC_PROFILE, else its [default] section; keys: server, ca-file,\n"
    "     insecure, connect-timeout-ms, timeout-ms, output;\n"
    "  4. the saved session: the server, CA file and --insecure of the last login.\n";

namespace {

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::optional<bool> ParseBool(const std::string& text) {
  const std::string word = Lower(text);
  if (word == "true" || word == "yes" || word == "1") return true;
  if (word == "false" || word == "no" || word == "0") return false;
  return std::nullopt;
}

// A number of milliseconds: digits only, at least 1, at most a day.
std::optional<long> ParseMilliseconds(const std::string& text) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  errno = 0;
  const long value = std::strtol(text.c_str(), nullptr, 10);
  if (errno == ERANGE || value < 1 || value > 24L * 60 * 60 * 1000) return std::nullopt;
  return value;
}

// Applies `key = value` to `profile`; false with the reason (without the line) otherwise.
bool ApplyKey(const std::string& key, const std::string& value, const std::string& folder,
              Profile* profile, std::string* error) {
  if (key == "server") {
    if (value.rfind("http://", 0) != 0 && value.rfind("https://", 0) != 0) {
      *error = "server must be http://host:port or https://host:port, not \"" + value + "\"";
      return false;
    }
    profile->server = value;
  } else if (key == "ca-file") {
    profile->ca_file = value.empty() || value[0] == '/' ? value : folder + "/" + value;
  } else if (key == "insecure") {
    profile->insecure = ParseBool(value);
    if (!profile->insecure) {
      *error = "insecure must be true or false, not \"" + value + "\"";
      return false;
    }
  } else if (key == "connect-timeout-ms" || key == "timeout-ms") {
    const std::optional<long> ms = ParseMilliseconds(value);
    if (!ms) {
      *error = key + " must be a number of milliseconds from 1 to 86400000, not \"" + value + "\"";
      return false;
    }
    (key == "timeout-ms" ? profile->timeout_ms : profile->connect_timeout_ms) = ms;
  } else if (key == "output") {
    profile->output = OutputFormat(value);
    if (!profile->output) {
      *error = "output must be table or json, not \"" + value + "\"";
      return false;
    }
  } else {
    *error = "unknown key \"" + key +
             "\" (known: server, ca-file, insecure, connect-timeout-ms, timeout-ms, output)";
    return false;
  }
  return true;
}

}  // namespace

std::optional<std::string> OutputFormat(const std::string& text) {
  const std::string word = Lower(text);
  if (word == "table" || word == "json") return word;
  return std::nullopt;
}

std::string ConfigFilePath() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && *config == '/') return std::string(config) + "/docsec/config";
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr && *home ? home : "/tmp") + "/.config/docsec/config";
}

bool ParseProfile(const std::string& text, const std::string& file, const std::string& name,
                  Profile* profile, bool* found, std::string* error) {
  const size_t slash = file.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : file.substr(0, slash);
  const std::string wanted = name == "default" ? "[default]" : "[profile " + name + "]";
  Profile chosen;
  *found = false;
  bool in_section = false;
  bool in_wanted = false;
  std::istringstream lines(text);
  std::string raw;
  for (int number = 1; std::getline(lines, raw); ++number) {
    const std::string line = Trim(raw);
    auto fail = [&](const std::string& why) {
      *error = file + ":" + std::to_string(number) + ": " + why;
      return false;
    };
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    if (line[0] == '[') {
      const bool profile_header = line.rfind("[profile ", 0) == 0 && line.size() > 10;
      if (line.back() != ']' || (line != "[default]" && !profile_header)) {
        return fail("a section is [default] or [profile NAME], not " + line);
      }
      // "[profile  a ]" names "a": the name is what lies between, trimmed.
      const std::string header =
          line == "[default]" ? line : "[profile " + Trim(line.substr(9, line.size() - 10)) + "]";
      in_section = true;
      in_wanted = header == wanted;
      *found = *found || in_wanted;
      continue;
    }
    const size_t equals = line.find('=');
    if (equals == std::string::npos) return fail("not a \"key = value\" line: " + line);
    if (!in_section) return fail("\"" + line + "\" comes before any [default] or [profile NAME]");
    Profile scratch;
    std::string why;
    if (!ApplyKey(Trim(line.substr(0, equals)), Trim(line.substr(equals + 1)), folder,
                  in_wanted ? &chosen : &scratch, &why)) {
      return fail(why);
    }
  }
  *profile = chosen;
  return true;
}

bool LoadProfile(const std::string& flag, Profile* profile, std::string* error) {
  const char* variable = std::getenv("DOCSEC_PROFILE");
  const bool named = !flag.empty() || (variable != nullptr && *variable);
  const std::string name = !flag.empty() ? flag : named ? variable : "default";
  const std::string where = !flag.empty() ? "--profile" : "DOCSEC_PROFILE";
  const std::string path = ConfigFilePath();
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    *profile = Profile();
    if (!named) return true;
    *error = where + " names the profile \"" + name + "\", but there is no " + path;
    return false;
  }
  std::string text;
  char buffer[4096];
  while (file.read(buffer, sizeof buffer) || file.gcount() > 0) {
    text.append(buffer, static_cast<size_t>(file.gcount()));
    if (text.size() > kMaxConfigBytes) {
      *error = path + " is longer than " + std::to_string(kMaxConfigBytes) + " bytes";
      return false;
    }
  }
  bool found = false;
  if (!ParseProfile(text, path, name, profile, &found, error)) return false;
  if (!found && named) {
    *error = where + " names the profile \"" + name + "\", which " + path + " does not hold";
    return false;
  }
  return true;
}

}  // namespace docsec::cli
