#pragma once

#include <optional>
#include <string>

namespace launchd {

// launchd's per-user override database: a property-list dictionary label → boolean, true meaning
// the job is kept disabled. At $PLATFORM_ROOT/private/var/db/com.apple.xpc.launchd/
// disabled.<real uid>.plist.
std::string overrideDatabasePath();

// The label's entry: true disabled, false enabled; nullopt without a boolean entry or a readable
// database. The file is parsed again only when it changed since the last call (one stat per call).
// One thread only.
std::optional<bool> disabledOverride(const std::string& label);

// Records the label's entry, keeping every other entry as it is, and writes the file atomically
// (creating its folders). The caller holds the user's lock (JobRegistry::lock) so that concurrent
// writers don't lose each other's entries. False, with nothing written, when the file can't be
// written or exists but can't be read as a dictionary.
bool setDisabledOverride(const std::string& label, bool disabled);

}  // namespace launchd
