// Reading and parsing the message files of a folder ahead of the one thread that writes them to
// the store: worker threads parse the next few files while the writer adds the current one, and
// the writer takes the results in the scan's order. What is parsed but not taken when the folder
// ends (a skip, a stop) is dropped: it is neither counted nor logged.
//
// Memory is bounded by the window: at most `window` parsed messages wait for the writer (large
// attachments of a parsed message are in temporary files, not in memory).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "engine/failure.h"
#include "engine/message_reader.h"

namespace mailfold::engine {

class ParseAhead {
 public:
  using Result = std::variant<pst::MessageModel, Failure>;

  // Parses `files[i]` for every i with `wanted[i]`, in ascending order, on `workers` threads
  // (none: each file is parsed when it is taken). `reader` must be safe to call from several
  // threads at once.
  ParseAhead(const std::vector<std::string>& files, std::vector<bool> wanted, const MessageReader& reader,
             unsigned workers, std::size_t window);
  ~ParseAhead();
  ParseAhead(const ParseAhead&) = delete;
  ParseAhead& operator=(const ParseAhead&) = delete;

  // The parsed message of files[index] or why it could not be read. Indexes are taken in
  // ascending order, each once, and only wanted ones.
  Result Take(std::size_t index);

  // The number of worker threads a machine's cores allow beside the writer.
  static unsigned WorkersForThisMachine();

 private:
  void Work();
  Result Parse(std::size_t index) const;

  const std::vector<std::string>& files_;
  const std::vector<bool> wanted_;
  const MessageReader& reader_;
  const std::size_t window_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t nextToParse_ = 0;  // the next wanted index a worker claims
  std::size_t nextToTake_ = 0;   // the writer has taken every wanted index below this
  std::vector<std::optional<Result>> done_;  // by index; emptied once taken
  std::size_t waiting_ = 0;                  // parsed and not yet taken
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace mailfold::engine
