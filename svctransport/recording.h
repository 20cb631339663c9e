// Recordings of server exchanges, for replaying a console session without a server.
//
// A recording is a text file that starts with the line "docsec-transport-recording 1" and then
// holds one record per exchange: a line "exchange ENTRY MILLISECONDS REQUEST_BYTES ANSWER_BYTES"
// (ANSWER_BYTES -1 for no answer), the request's bytes, the answer's bytes and a line feed. The
// lengths make any text, line feeds included, round-trip exactly.
//
// Replay matches a request to a recorded one of the same entry point: first by exact text, then
// after normalising both (every "yyyy-MM-dd HH:mm:ss" time becomes "@TIME@", every run of 32
// hexadecimal digits "@HEX32@", since a replayed session sends other times and other random
// values). Among matches, recordings are used in their order; once all are used the last one
// answers again.
//
// Thread safety: both classes lock internally.
#ifndef SVCTRANSPORT_RECORDING_H_
#define SVCTRANSPORT_RECORDING_H_

#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace docsec::transport_internal {

struct Exchange {
  int entry_point = 1;
  long milliseconds = 0;
  std::string request;
  std::optional<std::string> answer;
};

// `text` with times and 32-digit hexadecimal values replaced by placeholders.
std::string NormaliseRequest(const std::string& text);

class Recorder {
 public:
  ~Recorder();
  // Opens `path` for appending (writing the header line when the file is new or empty).
  bool Open(const std::string& path, std::string* error);
  void Append(const Exchange& exchange);

 private:
  std::mutex mutex_;
  FILE* file_ = nullptr;
};

class Replayer {
 public:
  // Reads every exchange of `path`. False with a reason for a missing or malformed file.
  bool Load(const std::string& path, std::string* error);
  // The answer to `request`; nullopt when nothing recorded matches (or the match had none).
  std::optional<std::string> Answer(int entry_point, const std::string& request);
  size_t size() const { return exchanges_.size(); }

 private:
  std::optional<std::string> Use(size_t index);

  std::mutex mutex_;
  std::vector<Exchange> exchanges_;
  std::vector<std::string> normalised_;
  std::vector<bool> used_;
};

}  // namespace docsec::transport_internal

#endif  // SVCTRANSPORT_RECORDING_H_
