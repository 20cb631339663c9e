// Settings: the console's configuration file of named profiles, and the order in which every
// source of a setting is consulted. A setting is taken from the first of: the command's flags,
// the environment, the chosen profile of the configuration file, the saved session. Changing one
// source never resets what the others gave.
//
// The file is $XDG_CONFIG_HOME/docsec/config, or ~/.config/docsec/config without that variable.
// It is plain text: "[default]" or "[profile NAME]" opens a section, "key = value" sets one of the
// keys below, "#" or ";" starts a comment line. A key the console does not know, a key outside a
// section or a malformed line is refused with its line number, so a typo never passes silently.
//
//   [profile prod]
//   server = https://docsec.example:8443
//   ca-file = /etc/docsec/ca.pem        # relative paths are read from the file's folder
//   connect-timeout-ms = 3000
//   output = json
//
// Thread safety: plain functions over values; no shared state.
#ifndef DOCSEC_TOOLS_CLI_SETTINGS_H_
#define DOCSEC_TOOLS_CLI_SETTINGS_H_

#include <optional>
#include <string>

namespace docsec::cli {

// Longest configuration file read; a longer one is refused rather than read in part.
inline constexpr size_t kMaxConfigBytes = 1 << 20;

// The settings one profile gives; a field without value is not set by the profile.
struct Profile {
  std::optional<std::string> server;  // http(s)://host:port
  std::optional<std::string> ca_file;
  std::optional<bool> insecure;  // true: the server's certificate is not checked
  std::optional<long> connect_timeout_ms;
  std::optional<long> timeout_ms;
  std::optional<std::string> output;  // "table" or "json"
};

// Where the configuration file is looked for (see above).
std::string ConfigFilePath();

// Reads profile `name` out of the configuration `text` (named `file` in messages; relative
// "ca-file" paths are taken from `file`'s folder). Every section is checked, not just the chosen
// one. True with *found telling whether the section exists; false with "FILE:LINE: reason" in
// *error for a line that is not understood.
bool ParseProfile(const std::string& text, const std::string& file, const std::string& name,
                  Profile* profile, bool* found, std::string* error);

// The profile to use: `flag` (--profile), else DOCSEC_PROFILE, else "default", read from the
// configuration file. A missing file or a missing "default" section gives an empty profile; a
// profile named by the flag or the variable must exist. False with a reason otherwise.
bool LoadProfile(const std::string& flag, Profile* profile, std::string* error);

// "table" or "json" when `text` names one of them (letter case aside); nullopt otherwise.
std::optional<std::string> OutputFormat(const std::string& text);

// The lines `docsec --help` ends with: where settings come from, in order.
extern const char kSettingsHelp[];

}  // namespace docsec::cli

#endif  // DOCSEC_TOOLS_CLI_SETTINGS_H_
