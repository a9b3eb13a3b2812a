#include "base/values.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "base/check.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"

namespace base {

namespace {

// Unsigned byte order over the shorter length; a prefix sorts first.
int CompareKeys(StringPiece a, StringPiece b) {
  return a.compare(b);
}

double FiniteOrZero(double value) {
  return std::isfinite(value) ? value : 0.0;
}

// The entry of the dictionary storage |dict| under the exact |key|, or the
// end.
template <typename Storage>
auto FindEntry(Storage& dict, StringPiece key) -> decltype(dict.begin()) {
  auto it = std::lower_bound(dict.begin(), dict.end(), key,
                             [](const Value::DictEntry& entry, StringPiece k) {
                               return CompareKeys(entry.first, k) < 0;
                             });
  if (it != dict.end() && CompareKeys(it->first, key) != 0)
    return dict.end();
  return it;
}

// The child of the dictionary |dict| under the exact |key|, or null.
const Value* FindChild(const Value& dict, StringPiece key) {
  auto it = FindEntry(dict.dict_storage(), key);
  return it == dict.dict_storage().end() ? nullptr : it->second.get();
}

Value* FindChild(Value& dict, StringPiece key) {
  auto it = FindEntry(dict.dict_storage(), key);
  return it == dict.dict_storage().end() ? nullptr : it->second.get();
}

// RemovePath on the dictionary |dict|.
bool RemovePathFrom(Value& dict,
                    StringPiece path,
                    std::unique_ptr<Value>* out_value) {
  const size_t dot = path.find('.');
  const StringPiece key = path.substr(0, dot);
  auto it = FindEntry(dict.dict_storage(), key);
  if (it == dict.dict_storage().end())
    return false;
  if (dot == StringPiece::npos) {
    if (out_value)
      *out_value = std::move(it->second);
    dict.dict_storage().erase(it);
    return true;
  }
  Value& child = *it->second;
  if (!child.is_dict() ||
      !RemovePathFrom(child, path.substr(dot + 1), out_value)) {
    return false;
  }
  if (child.dict_storage().empty())
    dict.dict_storage().erase(it);
  return true;
}

// MergeDictionary of the dictionary |source| into the dictionary |target|.
void MergeInto(Value& target, const Value& source) {
  for (const auto& entry : source.dict_storage()) {
    const Value& merge_value = *entry.second;
    if (merge_value.is_dict()) {
      Value* sub = FindChild(target, entry.first);
      if (sub && sub->is_dict()) {
        MergeInto(*sub, merge_value);
        continue;
      }
    }
    target.SetKey(entry.first, merge_value.Clone());
  }
}

}  // namespace

// Value -----------------------------------------------------------------------

Value::Value() : type_(Type::NONE) {}

Value::Value(Type type) : type_(type) {
  switch (type_) {
    case Type::NONE:
      return;
    case Type::BOOLEAN:
      bool_value_ = false;
      return;
    case Type::INTEGER:
      int_value_ = 0;
      return;
    case Type::DOUBLE:
      double_value_ = 0.0;
      return;
    case Type::STRING:
      new (&string_value_) std::string();
      return;
    case Type::BINARY:
      new (&binary_value_) BlobStorage();
      return;
    case Type::DICTIONARY:
      new (&dict_) DictStorage();
      return;
    case Type::LIST:
      new (&list_) ListStorage();
      return;
  }
  NOTREACHED();
}

Value::Value(bool value) : type_(Type::BOOLEAN), bool_value_(value) {}

Value::Value(int value) : type_(Type::INTEGER), int_value_(value) {}

Value::Value(double value)
    : type_(Type::DOUBLE), double_value_(FiniteOrZero(value)) {}

Value::Value(const char* value) : Value(StringPiece(value)) {}

Value::Value(const wchar_t* value) : Value(StringPiece16(value)) {}

Value::Value(std::string&& value) : type_(Type::STRING) {
  new (&string_value_) std::string(std::move(value));
}

Value::Value(StringPiece value) : type_(Type::STRING) {
  new (&string_value_) std::string(value.data(), value.size());
}

Value::Value(StringPiece16 value) : type_(Type::STRING) {
  new (&string_value_) std::string(UTF16ToUTF8(value));
}

Value::Value(const BlobStorage& value) : type_(Type::BINARY) {
  new (&binary_value_) BlobStorage(value);
}

Value::Value(BlobStorage&& value) : type_(Type::BINARY) {
  new (&binary_value_) BlobStorage(std::move(value));
}

Value::Value(const DictStorage& value) : type_(Type::DICTIONARY) {
  new (&dict_) DictStorage();
  dict_.reserve(value.size());
  for (const auto& entry : value) {
    dict_.emplace_back(entry.first, ToUniquePtrValue(entry.second->Clone()));
  }
}

Value::Value(DictStorage&& value) : type_(Type::DICTIONARY) {
  new (&dict_) DictStorage(std::move(value));
  for (auto& entry : dict_)
    entry.second = OfItsClass(std::move(entry.second));
}

Value::Value(const ListStorage& value) : type_(Type::LIST) {
  new (&list_) ListStorage();
  list_.reserve(value.size());
  for (const auto& element : value)
    list_.push_back(ToUniquePtrValue(element->Clone()));
}

Value::Value(ListStorage&& value) : type_(Type::LIST) {
  new (&list_) ListStorage(std::move(value));
  for (auto& element : list_)
    element = OfItsClass(std::move(element));
}

Value::Value(Value&& other) noexcept {
  InternalMoveFrom(std::move(other));
}

Value& Value::operator=(Value&& other) noexcept {
  if (this != &other) {
    InternalCleanup();
    InternalMoveFrom(std::move(other));
  }
  return *this;
}

Value::~Value() {
  InternalCleanup();
}

// static
std::unique_ptr<Value> Value::ToUniquePtrValue(Value value) {
  std::unique_ptr<Value> result;
  switch (value.type()) {
    case Type::DICTIONARY:
      result = std::make_unique<DictionaryValue>();
      break;
    case Type::LIST:
      result = std::make_unique<ListValue>();
      break;
    default:
      return std::make_unique<Value>(std::move(value));
  }
  *result = std::move(value);
  return result;
}

Value::Type Value::ObjectClass() const {
  return Type::NONE;
}

// static
std::unique_ptr<Value> Value::OfItsClass(std::unique_ptr<Value> value) {
  CHECK(value);
  const Type wanted =
      value->is_dict() || value->is_list() ? value->type() : Type::NONE;
  if (value->ObjectClass() == wanted)
    return value;
  return ToUniquePtrValue(std::move(*value));
}

void Value::InternalMoveFrom(Value&& other) {
  type_ = other.type_;
  switch (type_) {
    case Type::NONE:
      return;
    case Type::BOOLEAN:
      bool_value_ = other.bool_value_;
      return;
    case Type::INTEGER:
      int_value_ = other.int_value_;
      return;
    case Type::DOUBLE:
      double_value_ = other.double_value_;
      return;
    case Type::STRING:
      new (&string_value_) std::string(std::move(other.string_value_));
      other.string_value_.clear();
      return;
    case Type::BINARY:
      new (&binary_value_) BlobStorage(std::move(other.binary_value_));
      other.binary_value_.clear();
      return;
    case Type::DICTIONARY:
      new (&dict_) DictStorage(std::move(other.dict_));
      other.dict_.clear();
      return;
    case Type::LIST:
      new (&list_) ListStorage(std::move(other.list_));
      other.list_.clear();
      return;
  }
}

void Value::InternalCleanup() {
  switch (type_) {
    case Type::NONE:
    case Type::BOOLEAN:
    case Type::INTEGER:
    case Type::DOUBLE:
      return;
    case Type::STRING:
      string_value_.~basic_string();
      return;
    case Type::BINARY:
      binary_value_.~BlobStorage();
      return;
    case Type::DICTIONARY:
      dict_.~DictStorage();
      return;
    case Type::LIST:
      list_.~ListStorage();
      return;
  }
}

// static
const char* Value::GetTypeName(Type type) {
  static const char* const kNames[] = {"null",       "boolean", "integer",
                                       "double",     "string",  "binary",
                                       "dictionary", "list"};
  uint32_t index = static_cast<uint32_t>(type);
  return index < arraysize(kNames) ? kNames[index] : "";
}

bool Value::GetBool() const {
  CHECK(is_bool());
  return bool_value_;
}

int Value::GetInt() const {
  CHECK(is_int());
  return int_value_;
}

double Value::GetDouble() const {
  if (is_int())
    return int_value_;
  CHECK(is_double());
  return double_value_;
}

const std::string& Value::GetString() const {
  CHECK(is_string());
  return string_value_;
}

const Value::BlobStorage& Value::GetBlob() const {
  CHECK(is_blob());
  return binary_value_;
}

const Value::DictStorage& Value::dict_storage() const {
  CHECK(is_dict());
  return dict_;
}

Value::DictStorage& Value::dict_storage() {
  CHECK(is_dict());
  return dict_;
}

const Value::ListStorage& Value::list_storage() const {
  CHECK(is_list());
  return list_;
}

Value::ListStorage& Value::list_storage() {
  CHECK(is_list());
  return list_;
}

Value::DictStorage::iterator Value::LowerBound(StringPiece key) {
  return std::lower_bound(dict_storage().begin(), dict_storage().end(), key,
                          [](const DictEntry& entry, StringPiece k) {
                            return CompareKeys(entry.first, k) < 0;
                          });
}

Value::DictStorage::const_iterator Value::LowerBound(StringPiece key) const {
  return std::lower_bound(dict_storage().begin(), dict_storage().end(), key,
                          [](const DictEntry& entry, StringPiece k) {
                            return CompareKeys(entry.first, k) < 0;
                          });
}

Value* Value::FindKey(StringPiece key) {
  auto it = LowerBound(key);
  if (it == dict_.end() || CompareKeys(it->first, key) != 0)
    return nullptr;
  return it->second.get();
}

const Value* Value::FindKey(StringPiece key) const {
  auto it = LowerBound(key);
  if (it == dict_.end() || CompareKeys(it->first, key) != 0)
    return nullptr;
  return it->second.get();
}

Value* Value::SetKey(StringPiece key, Value&& value) {
  auto it = LowerBound(key);
  if (it != dict_.end() && CompareKeys(it->first, key) == 0) {
    // Replace the object, not its contents: a caller may still hold the old
    // child's address and expects it gone, not silently retyped.
    it->second = ToUniquePtrValue(std::move(value));
    return it->second.get();
  }
  it = dict_.emplace(it, std::string(key.data(), key.size()),
                     ToUniquePtrValue(std::move(value)));
  return it->second.get();
}

Value* Value::FindPath(std::initializer_list<StringPiece> path) {
  return const_cast<Value*>(static_cast<const Value*>(this)->FindPath(
      std::vector<StringPiece>(path)));
}

const Value* Value::FindPath(std::initializer_list<StringPiece> path) const {
  return FindPath(std::vector<StringPiece>(path));
}

Value* Value::FindPath(const std::vector<StringPiece>& path) {
  return const_cast<Value*>(static_cast<const Value*>(this)->FindPath(path));
}

const Value* Value::FindPath(const std::vector<StringPiece>& path) const {
  const Value* current = this;
  for (StringPiece component : path) {
    if (!current->is_dict())
      return nullptr;
    current = current->FindKey(component);
    if (!current)
      return nullptr;
  }
  return current;
}

bool Value::GetAsBoolean(bool* out) const {
  if (!is_bool())
    return false;
  if (out)
    *out = bool_value_;
  return true;
}

bool Value::GetAsInteger(int* out) const {
  if (!is_int())
    return false;
  if (out)
    *out = int_value_;
  return true;
}

bool Value::GetAsDouble(double* out) const {
  if (is_double()) {
    if (out)
      *out = double_value_;
    return true;
  }
  if (is_int()) {
    if (out)
      *out = int_value_;
    return true;
  }
  return false;
}

bool Value::GetAsString(std::string* out) const {
  if (!is_string())
    return false;
  if (out)
    *out = string_value_;
  return true;
}

bool Value::GetAsString(string16* out) const {
  if (!is_string())
    return false;
  if (out)
    *out = UTF8ToUTF16(string_value_);
  return true;
}

bool Value::GetAsString(const Value** out) const {
  if (!is_string())
    return false;
  if (out)
    *out = this;
  return true;
}

bool Value::GetAsString(StringPiece* out) const {
  if (!is_string())
    return false;
  if (out)
    *out = string_value_;
  return true;
}

bool Value::GetAsList(ListValue** out) {
  if (!is_list() || ObjectClass() != Type::LIST)
    return false;
  if (out)
    *out = static_cast<ListValue*>(this);
  return true;
}

bool Value::GetAsList(const ListValue** out) const {
  if (!is_list() || ObjectClass() != Type::LIST)
    return false;
  if (out)
    *out = static_cast<const ListValue*>(this);
  return true;
}

bool Value::GetAsDictionary(DictionaryValue** out) {
  if (!is_dict() || ObjectClass() != Type::DICTIONARY)
    return false;
  if (out)
    *out = static_cast<DictionaryValue*>(this);
  return true;
}

bool Value::GetAsDictionary(const DictionaryValue** out) const {
  if (!is_dict() || ObjectClass() != Type::DICTIONARY)
    return false;
  if (out)
    *out = static_cast<const DictionaryValue*>(this);
  return true;
}

Value Value::Clone() const {
  switch (type_) {
    case Type::NONE:
      return Value();
    case Type::BOOLEAN:
      return Value(bool_value_);
    case Type::INTEGER:
      return Value(int_value_);
    case Type::DOUBLE:
      return Value(double_value_);
    case Type::STRING:
      return Value(StringPiece(string_value_));
    case Type::BINARY:
      return Value(binary_value_);
    case Type::DICTIONARY:
      return Value(dict_);
    case Type::LIST:
      return Value(list_);
  }
  NOTREACHED();
}

std::unique_ptr<Value> Value::CreateDeepCopy() const {
  return ToUniquePtrValue(Clone());
}

bool Value::Equals(const Value* other) const {
  return other && *this == *other;
}

bool operator==(const Value& lhs, const Value& rhs) {
  if (lhs.type() != rhs.type())
    return false;
  switch (lhs.type()) {
    case Value::Type::NONE:
      return true;
    case Value::Type::BOOLEAN:
      return lhs.GetBool() == rhs.GetBool();
    case Value::Type::INTEGER:
      return lhs.GetInt() == rhs.GetInt();
    case Value::Type::DOUBLE:
      return lhs.GetDouble() == rhs.GetDouble();
    case Value::Type::STRING:
      return lhs.GetString() == rhs.GetString();
    case Value::Type::BINARY:
      return lhs.GetBlob() == rhs.GetBlob();
    case Value::Type::DICTIONARY: {
      const Value::DictStorage& a = lhs.dict_storage();
      const Value::DictStorage& b = rhs.dict_storage();
      if (a.size() != b.size())
        return false;
      for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].first != b[i].first || *a[i].second != *b[i].second)
          return false;
      }
      return true;
    }
    case Value::Type::LIST: {
      const Value::ListStorage& a = lhs.list_storage();
      const Value::ListStorage& b = rhs.list_storage();
      if (a.size() != b.size())
        return false;
      for (size_t i = 0; i < a.size(); ++i) {
        if (*a[i] != *b[i])
          return false;
      }
      return true;
    }
  }
  NOTREACHED();
}

// DictionaryValue -------------------------------------------------------------

DictionaryValue::DictionaryValue() : Value(Type::DICTIONARY) {}

Value::Type DictionaryValue::ObjectClass() const {
  return Type::DICTIONARY;
}

bool DictionaryValue::HasKey(StringPiece key) const {
  return FindKey(key) != nullptr;
}

void DictionaryValue::Clear() {
  dict_storage().clear();
}

Value* DictionaryValue::Set(StringPiece path, std::unique_ptr<Value> in_value) {
  CHECK(in_value);
  Value* current = this;
  for (size_t dot = path.find('.'); dot != StringPiece::npos;
       dot = path.find('.')) {
    StringPiece key = path.substr(0, dot);
    Value* child = FindChild(*current, key);
    if (!child || !child->is_dict())
      child = current->SetKey(key, Value(Type::DICTIONARY));
    current = child;
    path = path.substr(dot + 1);
  }
  return current->SetKey(path, std::move(*in_value));
}

Value* DictionaryValue::SetBoolean(StringPiece path, bool in_value) {
  return Set(path, std::make_unique<Value>(in_value));
}

Value* DictionaryValue::SetInteger(StringPiece path, int in_value) {
  return Set(path, std::make_unique<Value>(in_value));
}

Value* DictionaryValue::SetDouble(StringPiece path, double in_value) {
  return Set(path, std::make_unique<Value>(in_value));
}

Value* DictionaryValue::SetString(StringPiece path, StringPiece in_value) {
  return Set(path, std::make_unique<Value>(in_value));
}

Value* DictionaryValue::SetString(StringPiece path, const string16& in_value) {
  return Set(path, std::make_unique<Value>(in_value));
}

Value* DictionaryValue::SetDictionary(
    StringPiece path, std::unique_ptr<DictionaryValue> in_value) {
  return Set(path, std::move(in_value));
}

Value* DictionaryValue::SetList(StringPiece path,
                                std::unique_ptr<ListValue> in_value) {
  return Set(path, std::move(in_value));
}

Value* DictionaryValue::SetWithoutPathExpansion(
    StringPiece key, std::unique_ptr<Value> in_value) {
  CHECK(in_value);
  return SetKey(key, std::move(*in_value));
}

bool DictionaryValue::Get(StringPiece path, const Value** out_value) const {
  const Value* current = this;
  for (size_t dot = path.find('.'); dot != StringPiece::npos;
       dot = path.find('.')) {
    const Value* child = FindChild(*current, path.substr(0, dot));
    if (!child || !child->is_dict())
      return false;
    current = child;
    path = path.substr(dot + 1);
  }
  const Value* found = FindChild(*current, path);
  if (!found)
    return false;
  if (out_value)
    *out_value = found;
  return true;
}

bool DictionaryValue::Get(StringPiece path, Value** out_value) {
  const Value* found;
  const DictionaryValue& self = *this;
  if (!self.Get(path, &found))
    return false;
  if (out_value)
    *out_value = const_cast<Value*>(found);
  return true;
}

bool DictionaryValue::GetBoolean(StringPiece path, bool* out_value) const {
  const Value* value;
  return Get(path, &value) && value->GetAsBoolean(out_value);
}

bool DictionaryValue::GetInteger(StringPiece path, int* out_value) const {
  const Value* value;
  return Get(path, &value) && value->GetAsInteger(out_value);
}

bool DictionaryValue::GetDouble(StringPiece path, double* out_value) const {
  const Value* value;
  return Get(path, &value) && value->GetAsDouble(out_value);
}

bool DictionaryValue::GetString(StringPiece path,
                                std::string* out_value) const {
  const Value* value;
  return Get(path, &value) && value->GetAsString(out_value);
}

bool DictionaryValue::GetString(StringPiece path, string16* out_value) const {
  const Value* value;
  return Get(path, &value) && value->GetAsString(out_value);
}

bool DictionaryValue::GetStringASCII(StringPiece path,
                                     std::string* out_value) const {
  const Value* value;
  if (!Get(path, &value) || !value->is_string() ||
      !IsStringASCII(value->GetString())) {
    return false;
  }
  if (out_value)
    *out_value = value->GetString();
  return true;
}

bool DictionaryValue::GetDictionary(StringPiece path,
                                    const DictionaryValue** out_value) const {
  const Value* value;
  return Get(path, &value) && value->GetAsDictionary(out_value);
}

bool DictionaryValue::GetDictionary(StringPiece path,
                                    DictionaryValue** out_value) {
  Value* value;
  return Get(path, &value) && value->GetAsDictionary(out_value);
}

bool DictionaryValue::GetList(StringPiece path,
                              const ListValue** out_value) const {
  const Value* value;
  return Get(path, &value) && value->GetAsList(out_value);
}

bool DictionaryValue::GetList(StringPiece path, ListValue** out_value) {
  Value* value;
  return Get(path, &value) && value->GetAsList(out_value);
}

bool DictionaryValue::GetWithoutPathExpansion(StringPiece key,
                                              const Value** out_value) const {
  const Value* found = FindKey(key);
  if (!found)
    return false;
  if (out_value)
    *out_value = found;
  return true;
}

bool DictionaryValue::GetWithoutPathExpansion(StringPiece key,
                                              Value** out_value) {
  Value* found = FindKey(key);
  if (!found)
    return false;
  if (out_value)
    *out_value = found;
  return true;
}

bool DictionaryValue::RemoveWithoutPathExpansion(
    StringPiece key, std::unique_ptr<Value>* out_value) {
  auto it = LowerBound(key);
  if (it == dict_storage().end() || CompareKeys(it->first, key) != 0)
    return false;
  if (out_value)
    *out_value = std::move(it->second);
  dict_storage().erase(it);
  return true;
}

bool DictionaryValue::RemovePath(StringPiece path,
                                 std::unique_ptr<Value>* out_value) {
  return RemovePathFrom(*this, path, out_value);
}

void DictionaryValue::MergeDictionary(const DictionaryValue* dictionary) {
  CHECK(dictionary && dictionary->is_dict());
  MergeInto(*this, *dictionary);
}

std::unique_ptr<DictionaryValue> DictionaryValue::CreateDeepCopy() const {
  auto copy = std::make_unique<DictionaryValue>();
  static_cast<Value&>(*copy) = Clone();
  return copy;
}

DictionaryValue::Iterator::Iterator(const DictionaryValue& target)
    : target_(target), index_(0) {}

// ListValue -------------------------------------------------------------------

ListValue::ListValue() : Value(Type::LIST) {}

Value::Type ListValue::ObjectClass() const {
  return Type::LIST;
}

void ListValue::Clear() {
  list_storage().clear();
}

bool ListValue::Set(size_t index, std::unique_ptr<Value> in_value) {
  if (!in_value)
    return false;
  ListStorage& list = list_storage();
  if (index >= list.size())
    list.reserve(index + 1);
  while (list.size() <= index)
    list.push_back(std::make_unique<Value>());
  list[index] = ToUniquePtrValue(std::move(*in_value));
  return true;
}

bool ListValue::Get(size_t index, const Value** out_value) const {
  if (index >= list_storage().size())
    return false;
  if (out_value)
    *out_value = list_storage()[index].get();
  return true;
}

bool ListValue::Get(size_t index, Value** out_value) {
  if (index >= list_storage().size())
    return false;
  if (out_value)
    *out_value = list_storage()[index].get();
  return true;
}

bool ListValue::GetBoolean(size_t index, bool* out_value) const {
  const Value* value;
  return Get(index, &value) && value->GetAsBoolean(out_value);
}

bool ListValue::GetInteger(size_t index, int* out_value) const {
  const Value* value;
  return Get(index, &value) && value->GetAsInteger(out_value);
}

bool ListValue::GetString(size_t index, std::string* out_value) const {
  const Value* value;
  return Get(index, &value) && value->GetAsString(out_value);
}

bool ListValue::GetString(size_t index, string16* out_value) const {
  const Value* value;
  return Get(index, &value) && value->GetAsString(out_value);
}

bool ListValue::GetDictionary(size_t index,
                              const DictionaryValue** out_value) const {
  const Value* value;
  return Get(index, &value) && value->GetAsDictionary(out_value);
}

bool ListValue::GetDictionary(size_t index, DictionaryValue** out_value) {
  Value* value;
  return Get(index, &value) && value->GetAsDictionary(out_value);
}

void ListValue::Append(std::unique_ptr<Value> in_value) {
  CHECK(in_value);
  list_storage().push_back(ToUniquePtrValue(std::move(*in_value)));
}

void ListValue::AppendBoolean(bool in_value) {
  list_storage().push_back(std::make_unique<Value>(in_value));
}

void ListValue::AppendInteger(int in_value) {
  list_storage().push_back(std::make_unique<Value>(in_value));
}

void ListValue::AppendString(StringPiece in_value) {
  list_storage().push_back(std::make_unique<Value>(in_value));
}

void ListValue::AppendString(const string16& in_value) {
  list_storage().push_back(std::make_unique<Value>(in_value));
}

std::unique_ptr<ListValue> ListValue::CreateDeepCopy() const {
  auto copy = std::make_unique<ListValue>();
  static_cast<Value&>(*copy) = Clone();
  return copy;
}

// Serializer interfaces ------------------------------------------------------

ValueSerializer::~ValueSerializer() = default;

ValueDeserializer::~ValueDeserializer() = default;

}  // namespace base
