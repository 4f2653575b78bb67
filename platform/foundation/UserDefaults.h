#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Date.h"
#include "PropertyList.h"

namespace foundation {

// The user defaults of one domain, kept in one XML property-list file.
//
// Every operation may be called from any thread.
//
// Reads see this process's latest write at once, before any synchronize, and another process's
// values once that process has synchronized. A read checks the file's identity, size and times
// (one stat) and re-reads it only when they changed; a file replaced by a writer of this class is
// always noticed.
//
// synchronize() takes an exclusive lock on "<file>.lock" beside the file, re-reads the file when
// it changed since this object last read it, applies only the changes (sets and removals) made
// through this object since its last synchronize, and replaces the file atomically. Processes
// writing different keys therefore never lose each other's values, and a crash at any moment leaves
// either the old file or the new one. Missing folders are created. When the file is a symbolic
// link, the file it names is written (and locked beside), and the link is kept.
//
// A file that can't be read or parsed, or is larger than 4 MiB (left unread), reads as empty and
// is logged once. A synchronize never
// writes over it: a corrupt file is first moved aside to "<file>.corrupt" (logged); a file that
// can't be read fails the synchronize and is left alone.
class UserDefaults {
 public:
  // The standard defaults: domain the main bundle's identifier (the process name when there is no
  // bundle), file ~/Library/Preferences/<domain>.plist with "~" taken from HOME at the call. Each
  // distinct file has one instance, which lives until the process exits.
  static UserDefaults& standard();
  // ~/Library/Preferences/<domain>.plist, expanded.
  static std::string pathForDomain(std::string_view domain);

  // Defaults kept in the file at `path`; the file is first read when first used.
  explicit UserDefaults(std::string path);
  ~UserDefaults();
  UserDefaults(const UserDefaults&) = delete;
  UserDefaults& operator=(const UserDefaults&) = delete;

  const std::string& path() const;
  // The file's name without ".plist": the domain for standard().
  const std::string& domain() const;

  std::optional<PlistValue> objectForKey(std::string_view key) const;
  // False (logged, nothing stored) for a value no property-list file can hold, such as a date
  // outside the format's range.
  bool setObject(std::string_view key, PlistValue value);
  void removeObjectForKey(std::string_view key);

  // A number's (or a "YES"/"true"/numeric string's) truth; NO when absent or of another type.
  bool boolForKey(std::string_view key) const;
  // A number's value (reals truncated) or a string's leading integer; 0 otherwise.
  std::int64_t integerForKey(std::string_view key) const;
  // Only string values; nullopt for any other type.
  std::optional<std::string> stringForKey(std::string_view key) const;
  // Only date values; nullopt for any other type.
  std::optional<Date> dateForKey(std::string_view key) const;

  // Stored as <true/>/<false/>, <integer>, <date> (whole seconds in the file) and <string>.
  void setBool(std::string_view key, bool value);
  void setInteger(std::string_view key, std::int64_t value);
  bool setDate(std::string_view key, Date value);
  void setString(std::string_view key, std::string value);

  // Merges this object's changes into the file as described above. True when the file now holds
  // them (also when there was nothing to write); false when a step failed, in which case the
  // changes stay pending for the next synchronize, except when the file would grow past the 4 MiB
  // a read accepts: the changes are then dropped (logged) and the file is left as it was.
  bool synchronize();

  // Every key and value as a read would see them now.
  PlistDictionary dictionaryRepresentation() const;

  // Called with the key after each set or removal made through this object (setObject, the typed
  // setters and removeObjectForKey, but not a refused value), on the thread that made it, after
  // the value is visible to reads and with no lock of this object held. Changes that other
  // objects or processes make to the file are not reported.
  using ChangeObserver = std::function<void(std::string_view key)>;
  using ChangeObserverId = std::uint64_t;

  // Any thread. Adds `observer`; the id removes it.
  ChangeObserverId addChangeObserver(ChangeObserver observer);
  // Any thread. Once this returns, the observer is not running on another thread and is never
  // called again (a call on this thread that is removing it from inside itself finishes normally).
  // An observer may remove itself but must not remove another observer, which could deadlock with
  // a thread removing it in turn. Unknown ids are ignored.
  void removeChangeObserver(ChangeObserverId id);

 private:
  struct State;
  std::unique_ptr<State> _state;
};

}  // namespace foundation
