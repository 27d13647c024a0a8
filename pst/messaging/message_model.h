// The message model: a plain value that describes one mail item to be written into a store.
//
// The importer (MIME side) fills it; the store writes it. It knows nothing about the file
// layout: properties are keyed by MAPI property tag (id << 16 | type) or, for named
// properties, by property set and name. Text is UTF-8 here and becomes UTF-16 in the store.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "pst/bytes.h"
#include "pst/ltp/property_value.h"

namespace mailfold::pst {

// The value vocabulary belongs to the layer that stores values; the model uses it unchanged.
using ltp::PropType;
using enum ltp::PropType;
using ltp::PropTag;
using ltp::makeTag;
using ltp::tagId;
using ltp::tagType;
using ltp::FileTime;
using ltp::Guid;
using ltp::ByteSource;
using ltp::MemorySource;
using ltp::PropertyValue;

// A named property: a property set and either a numeric id (LID) or a string name.
struct NamedPropertyKey {
  Guid propertySet;
  std::variant<std::uint32_t, std::string> name;
  friend bool operator==(const NamedPropertyKey&, const NamedPropertyKey&) = default;
  friend auto operator<=>(const NamedPropertyKey&, const NamedPropertyKey&) = default;
};

struct NamedProperty {
  NamedPropertyKey key;
  std::uint16_t type = kPtUnicode;
  PropertyValue value;
};

// The properties of one object (message, recipient row, attachment).
class PropertyBag {
 public:
  void set(PropTag tag, PropertyValue value) { props_[tag] = std::move(value); }
  void setNamed(NamedPropertyKey key, std::uint16_t type, PropertyValue value) {
    for (auto& n : named_) {
      if (n.key == key) {
        n.type = type;
        n.value = std::move(value);
        return;
      }
    }
    named_.push_back(NamedProperty{std::move(key), type, std::move(value)});
  }
  void erase(PropTag tag) { props_.erase(tag); }
  const PropertyValue* get(PropTag tag) const {
    auto it = props_.find(tag);
    return it == props_.end() ? nullptr : &it->second;
  }
  template <class T>
  const T* getAs(PropTag tag) const {
    const PropertyValue* v = get(tag);
    return v ? std::get_if<T>(v) : nullptr;
  }
  bool has(PropTag tag) const { return props_.count(tag) != 0; }
  const std::map<PropTag, PropertyValue>& all() const { return props_; }
  const std::vector<NamedProperty>& named() const { return named_; }

 private:
  std::map<PropTag, PropertyValue> props_;
  std::vector<NamedProperty> named_;
};

struct MessageModel;

// One row of the recipient table: PR_RECIPIENT_TYPE, PR_DISPLAY_NAME, PR_EMAIL_ADDRESS, ...
struct Recipient {
  PropertyBag props;
};

// One attachment: by value (PR_ATTACH_DATA_BIN, usually a ByteSource) or an embedded message
// (PR_ATTACH_METHOD = 5, `embedded` set).
struct Attachment {
  PropertyBag props;
  std::shared_ptr<MessageModel> embedded;
};

struct MessageModel {
  PropertyBag props;
  std::vector<Recipient> recipients;
  std::vector<Attachment> attachments;
};

}  // namespace mailfold::pst
