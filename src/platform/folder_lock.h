#pragma once

#include <memory>
#include <string>

namespace morlane {

// A folder held by one program at a time: the lock is the system's own on a file in the
// folder, so it ends with the process that held it, however that ended, and a lock left
// by a process that died is simply taken. The file names the holder (its process id and
// host) for whoever finds the folder held.
class FolderLock {
 public:
  enum class Outcome { Taken, Held, Failed };

  virtual ~FolderLock() = default;

  // Takes the lock on file `name` in folder. Held: *holder says who holds it ("process 4711
  // on line1-pc", or "another program" when the file says nothing readable). Failed: *why.
  static std::unique_ptr<FolderLock> Take(const std::string& folder, const std::string& name,
                                          Outcome* outcome, std::string* holder, std::string* why);
};

// "process PID on HOST" as a lock file names its holder, from the file's first line.
std::string HolderOfLockText(const std::string& text);

}  // namespace morlane
