#pragma once

#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include "appkit/ClassDescription.h"

namespace appkit {

// Builds the ClassDescription of class T from typed members, for registration:
//
//   static const appkit::ClassRegistrar s_registrar(
//       appkit::ClassBuilder<AppDelegate>("AppDelegate")
//           .outlet("window", &AppDelegate::window)
//           .attribute("showsCaption", getter, setter)
//           .action("onOkBtn:", &AppDelegate::onOkBtn)
//           .build());
//
// T must derive from Object; it is made with its default constructor unless it is abstract.
template <class T>
class ClassBuilder {
  static_assert(std::is_base_of_v<Object, T>, "layout classes derive from appkit::Object");

 public:
  explicit ClassBuilder(std::string name, std::string superclass = {}) {
    _description.name = std::move(name);
    _description.superclass = std::move(superclass);
    if constexpr (!std::is_abstract_v<T> && std::is_default_constructible_v<T>) {
      _description.factory = [] { return std::unique_ptr<Object>(std::make_unique<T>()); };
    }
  }

  // An outlet: a pointer member of T (or of a base of T) to an object of class U or a subclass.
  template <class U, class C>
  ClassBuilder& outlet(std::string name, U* C::*member) {
    static_assert(std::is_base_of_v<C, T>, "the outlet is a member of the class or its base");
    _description.outlets[std::move(name)] = [member](Object& self, Object* target) {
      T* object = dynamic_cast<T*>(&self);
      U* typed = dynamic_cast<U*>(target);
      if (!object || (target && !typed)) return false;
      object->*member = typed;
      return true;
    };
    return *this;
  }

  // A property set from its layout value by `setter`, which answers false for a value that does
  // not fit.
  template <class Setter>
  ClassBuilder& property(std::string key, Setter setter) {
    _description.properties[std::move(key)] =
        [setter = std::move(setter)](Object& self, const foundation::PlistValue& value) {
          T* object = dynamic_cast<T*>(&self);
          return object && setter(*object, value);
        };
    return *this;
  }

  // A property whose layout value `reader` turns into a value (std::optional<V>(const
  // foundation::PlistValue&), nullopt for a value that does not fit) that `setter`, a method of T
  // (or of a base of T), takes; for example .property("hidden", layoutBool, &View::setHidden).
  template <class Reader, class C, class Arg>
  ClassBuilder& property(std::string key, Reader reader, void (C::*setter)(Arg)) {
    static_assert(std::is_base_of_v<C, T>, "the setter is a method of the class or its base");
    return property(std::move(key), [reader = std::move(reader), setter](
                                        T& self, const foundation::PlistValue& value) {
      auto read = reader(value);
      if (!read) return false;
      (self.*setter)(std::move(*read));
      return true;
    });
  }

  // An outlet collection: each object of the layout's array of ids is handed, in order, to
  // `adder`, a method of T (or of a base of T) taking an object of class U or a subclass; for
  // example .outletCollection("subviews", &View::addSubview).
  template <class U, class C>
  ClassBuilder& outletCollection(std::string name, void (C::*adder)(U*)) {
    static_assert(std::is_base_of_v<C, T>, "the adder is a method of the class or its base");
    _description.outletCollections[std::move(name)] = [adder](Object& self, Object* element) {
      T* object = dynamic_cast<T*>(&self);
      U* typed = dynamic_cast<U*>(element);
      if (!object || !typed) return false;
      (object->*adder)(typed);
      return true;
    };
    return *this;
  }

  // A key-value attribute, for bindings, and a property of the same name unless the class has a
  // property by that name. `getter` is std::optional<foundation::PlistValue>(const T&), nullopt
  // when there is no value; `setter` is bool(T&, const foundation::PlistValue&), false when the
  // value does not fit. The setter does not announce the change; whoever calls it does.
  template <class Getter, class Setter>
  ClassBuilder& attribute(std::string key, Getter getter, Setter setter) {
    ClassDescription::Attribute attribute;
    attribute.get =
        [getter = std::move(getter)](const Object& self) -> std::optional<foundation::PlistValue> {
      const T* object = dynamic_cast<const T*>(&self);
      if (!object) return std::nullopt;
      return getter(*object);
    };
    attribute.set = [setter = std::move(setter)](Object& self,
                                                 const foundation::PlistValue& value) {
      T* object = dynamic_cast<T*>(&self);
      return object && setter(*object, value);
    };
    _description.attributes[std::move(key)] = std::move(attribute);
    return *this;
  }

  // An action method `void method(Object* sender)` of T (or of a base of T), by selector.
  template <class C>
  ClassBuilder& action(std::string selector, void (C::*method)(Object* sender)) {
    static_assert(std::is_base_of_v<C, T>, "the action is a method of the class or its base");
    _description.actions[std::move(selector)] = [method](Object& self, Object* sender) {
      if (T* object = dynamic_cast<T*>(&self)) (object->*method)(sender);
    };
    return *this;
  }

  ClassDescription build() { return std::move(_description); }

 private:
  ClassDescription _description;
};

}  // namespace appkit
