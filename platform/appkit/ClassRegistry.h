#pragma once

#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "appkit/ClassDescription.h"
#include "foundation/Mutex.h"

namespace appkit {

// The classes a window layout may name, by class name.
//
// Thread safety: a mutex guards the table. Descriptions are never removed or replaced, so the
// pointers handed out stay valid for the life of the process; the shared registry is never
// destroyed.
class ClassRegistry {
 public:
  static ClassRegistry& shared();

  ClassRegistry() = default;
  ClassRegistry(const ClassRegistry&) = delete;
  ClassRegistry& operator=(const ClassRegistry&) = delete;

  // False (and the first registration kept) when the name is empty or already registered.
  bool registerClass(ClassDescription description);
  const ClassDescription* find(std::string_view name) const;

  // The entry of `className` or of its nearest registered superclass that has one; null when none
  // has. A missing superclass or a cycle in the chain ends the search.
  const ClassDescription::PropertySetter* findProperty(std::string_view className,
                                                       std::string_view key) const;
  const ClassDescription::Attribute* findAttribute(std::string_view className,
                                                   std::string_view key) const;
  const ClassDescription::OutletAdder* findOutletCollection(std::string_view className,
                                                            std::string_view name) const;
  const ClassDescription::OutletSetter* findOutlet(std::string_view className,
                                                   std::string_view name) const;
  const ClassDescription::ActionMethod* findAction(std::string_view className,
                                                   std::string_view selector) const;

  std::vector<std::string> classNames() const;

 private:
  template <class Entry>
  const Entry* findInChain(std::string_view className, std::string_view key,
                           const std::map<std::string, Entry> ClassDescription::*table) const;

  mutable foundation::Mutex _mutex;
  std::map<std::string, ClassDescription, std::less<>> _classes GUARDED_BY(_mutex);
};

}  // namespace appkit
