#ifndef BASE_VALUES_H_
#define BASE_VALUES_H_

#include <stddef.h>
#include <stdint.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/macros.h"
#include "base/strings/string16.h"
#include "base/strings/string_piece.h"

namespace base {

class DictionaryValue;
class ListValue;
class Value;

// The tagged value tree behind every JSON document. Dictionaries keep their
// entries sorted by key (bytes compared unsigned, a prefix first) and own
// each child in a separate allocation, so a child's address is stable while
// its entry exists. Lists own their elements the same way, so an element's
// address is stable too while it stays in the list. DictionaryValue and
// ListValue add operations only, never fields.
// Every dictionary or list child of a dictionary or list, every copy made by
// CreateDeepCopy and every container the JSON reader returns is made as an
// object of that class, so GetAsDictionary and GetAsList hand out
// what the object really is; the dictionary operations themselves walk
// nested dictionaries through Value alone.
class Value {
 public:
  enum class Type : uint32_t {
    NONE = 0,
    BOOLEAN = 1,
    INTEGER = 2,
    DOUBLE = 3,
    STRING = 4,
    BINARY = 5,
    DICTIONARY = 6,
    LIST = 7,
  };

  using BlobStorage = std::vector<char>;
  using DictEntry = std::pair<std::string, std::unique_ptr<Value>>;
  using DictStorage = std::vector<DictEntry>;
  // Never holds a null element.
  using ListStorage = std::vector<std::unique_ptr<Value>>;

  Value();
  explicit Value(Type type);
  explicit Value(bool value);
  explicit Value(int value);
  // NaN and the infinities are stored as 0.0: JSON cannot carry them.
  explicit Value(double value);
  // Without this a string literal would pick the bool constructor.
  explicit Value(const char* value);
  explicit Value(const wchar_t* value);
  explicit Value(std::string&& value);
  explicit Value(StringPiece value);
  explicit Value(StringPiece16 value);
  explicit Value(const std::string& value) : Value(StringPiece(value)) {}
  explicit Value(const string16& value) : Value(StringPiece16(value)) {}
  explicit Value(const BlobStorage& value);
  explicit Value(BlobStorage&& value);
  // Copies deeply.
  explicit Value(const DictStorage& value);
  // Takes the children; one that is a dictionary or list but not an object
  // of that class is moved into one that is.
  explicit Value(DictStorage&& value);
  explicit Value(const ListStorage& value);
  explicit Value(ListStorage&& value);

  // A moved-from string, blob, dictionary or list is left empty, with its
  // type unchanged.
  Value(Value&& other) noexcept;
  Value& operator=(Value&& other) noexcept;

  // Virtual: a DictionaryValue or ListValue is owned, and destroyed, through
  // a Value pointer.
  virtual ~Value();

  // |value| moved into a new object of the class of its kind: a
  // DictionaryValue for a dictionary, a ListValue for a list, else a Value.
  static std::unique_ptr<Value> ToUniquePtrValue(Value value);

  static const char* GetTypeName(Type type);

  Type type() const { return type_; }
  bool is_none() const { return type_ == Type::NONE; }
  bool is_bool() const { return type_ == Type::BOOLEAN; }
  bool is_int() const { return type_ == Type::INTEGER; }
  bool is_double() const { return type_ == Type::DOUBLE; }
  bool is_string() const { return type_ == Type::STRING; }
  bool is_blob() const { return type_ == Type::BINARY; }
  bool is_dict() const { return type_ == Type::DICTIONARY; }
  bool is_list() const { return type_ == Type::LIST; }

  // Direct payload access; each requires the matching type.
  bool GetBool() const;
  int GetInt() const;
  double GetDouble() const;  // Also accepts an integer.
  const std::string& GetString() const;
  const BlobStorage& GetBlob() const;
  const DictStorage& dict_storage() const;
  DictStorage& dict_storage();
  const ListStorage& list_storage() const;
  ListStorage& list_storage();

  // Stores |value| under the exact key |key| (no path expansion), replacing
  // any previous child. Requires a dictionary.
  Value* SetKey(StringPiece key, Value&& value);
  // Follows |path| through nested dictionaries; null when a step is not a
  // dictionary or lacks the key. An empty path gives this value.
  Value* FindPath(std::initializer_list<StringPiece> path);
  const Value* FindPath(std::initializer_list<StringPiece> path) const;
  Value* FindPath(const std::vector<StringPiece>& path);
  const Value* FindPath(const std::vector<StringPiece>& path) const;

  // True exactly when the type matches; |out| may be null to test only the
  // type, and is left untouched on a mismatch. GetAsDouble alone also
  // accepts an integer.
  // GetAsList and GetAsDictionary are also false for a list or dictionary
  // that is a plain Value object (made on the stack from a Type, or turned
  // into a container by move assignment): casting it to the derived class
  // would be undefined. Every container the tree itself holds or hands out
  // is an object of its class, so for those the answer is the kind alone;
  // is_list() and is_dict() test the kind of any value.
  bool GetAsBoolean(bool* out) const;
  bool GetAsInteger(int* out) const;
  bool GetAsDouble(double* out) const;
  bool GetAsString(std::string* out) const;
  bool GetAsString(string16* out) const;
  bool GetAsString(const Value** out) const;
  bool GetAsString(StringPiece* out) const;
  bool GetAsList(ListValue** out);
  bool GetAsList(const ListValue** out) const;
  bool GetAsDictionary(DictionaryValue** out);
  bool GetAsDictionary(const DictionaryValue** out) const;

  Value Clone() const;
  std::unique_ptr<Value> CreateDeepCopy() const;

  // Same type and same contents; an integer never equals a double.
  bool Equals(const Value* other) const;

 protected:
  // The position of |key| in a dictionary's sorted entries, or where it
  // would be inserted.
  DictStorage::iterator LowerBound(StringPiece key);
  DictStorage::const_iterator LowerBound(StringPiece key) const;
  // The child under the exact key, or null.
  Value* FindKey(StringPiece key);
  const Value* FindKey(StringPiece key) const;

 private:
  // The kind whose class this object was constructed as: DICTIONARY for a
  // DictionaryValue, LIST for a ListValue, NONE for a plain Value. Fixed for
  // the object's life, whatever kind is later moved into it.
  virtual Type ObjectClass() const;
  // |value| itself when it is an object of the class of its kind, else its
  // contents moved into a new object that is. |value| must not be null.
  static std::unique_ptr<Value> OfItsClass(std::unique_ptr<Value> value);

  void InternalMoveFrom(Value&& other);
  void InternalCleanup();

  Type type_;
  union {
    bool bool_value_;
    int int_value_;
    double double_value_;
    std::string string_value_;
    BlobStorage binary_value_;
    DictStorage dict_;
    ListStorage list_;
  };

  DISALLOW_COPY_AND_ASSIGN(Value);
};

bool operator==(const Value& lhs, const Value& rhs);
inline bool operator!=(const Value& lhs, const Value& rhs) {
  return !(lhs == rhs);
}

// A dictionary Value. Paths are keys joined by '.', walking nested
// dictionaries; the *WithoutPathExpansion operations and HasKey take the
// whole text as one key.
class DictionaryValue : public Value {
 public:
  DictionaryValue();

  bool HasKey(StringPiece key) const;
  size_t size() const { return dict_storage().size(); }
  bool empty() const { return dict_storage().empty(); }
  void Clear();

  // Creates the missing dictionaries on the way, replacing any value of
  // another type that stands in the path. Returns the stored value.
  Value* Set(StringPiece path, std::unique_ptr<Value> in_value);
  Value* SetBoolean(StringPiece path, bool in_value);
  Value* SetInteger(StringPiece path, int in_value);
  Value* SetDouble(StringPiece path, double in_value);
  Value* SetString(StringPiece path, StringPiece in_value);
  Value* SetString(StringPiece path, const string16& in_value);
  Value* SetDictionary(StringPiece path,
                       std::unique_ptr<DictionaryValue> in_value);
  Value* SetList(StringPiece path, std::unique_ptr<ListValue> in_value);
  Value* SetWithoutPathExpansion(StringPiece key,
                                 std::unique_ptr<Value> in_value);

  // Each getter is false when the path is missing or holds another type,
  // leaving |out_value| untouched.
  bool Get(StringPiece path, const Value** out_value) const;
  bool Get(StringPiece path, Value** out_value);
  bool GetBoolean(StringPiece path, bool* out_value) const;
  bool GetInteger(StringPiece path, int* out_value) const;
  bool GetDouble(StringPiece path, double* out_value) const;
  bool GetString(StringPiece path, std::string* out_value) const;
  bool GetString(StringPiece path, string16* out_value) const;
  bool GetStringASCII(StringPiece path, std::string* out_value) const;
  bool GetDictionary(StringPiece path, const DictionaryValue** out_value) const;
  bool GetDictionary(StringPiece path, DictionaryValue** out_value);
  bool GetList(StringPiece path, const ListValue** out_value) const;
  bool GetList(StringPiece path, ListValue** out_value);
  bool GetWithoutPathExpansion(StringPiece key, const Value** out_value) const;
  bool GetWithoutPathExpansion(StringPiece key, Value** out_value);

  // False when absent. With |out_value| the child is handed over, else
  // destroyed.
  bool RemoveWithoutPathExpansion(StringPiece key,
                                  std::unique_ptr<Value>* out_value);
  // Also removes every dictionary that the removal left empty on the way.
  bool RemovePath(StringPiece path, std::unique_ptr<Value>* out_value);

  // Entries of |dictionary| replace this one's, except that two
  // dictionaries under the same key merge recursively.
  void MergeDictionary(const DictionaryValue* dictionary);

  std::unique_ptr<DictionaryValue> CreateDeepCopy() const;

  // Walks the entries in key order. Invalid once the dictionary changes.
  class Iterator {
   public:
    explicit Iterator(const DictionaryValue& target);
    bool IsAtEnd() const { return index_ >= target_.dict_storage().size(); }
    void Advance() { ++index_; }
    const std::string& key() const {
      return target_.dict_storage()[index_].first;
    }
    const Value& value() const {
      return *target_.dict_storage()[index_].second;
    }

   private:
    const DictionaryValue& target_;
    size_t index_;
  };

 private:
  Type ObjectClass() const override;

  DISALLOW_COPY_AND_ASSIGN(DictionaryValue);
};

// A list Value.
class ListValue : public Value {
 public:
  ListValue();

  size_t GetSize() const { return list_storage().size(); }
  bool empty() const { return list_storage().empty(); }
  void Clear();

  // Grows the list with none values when |index| is past the end. False,
  // changing nothing, for a null value.
  bool Set(size_t index, std::unique_ptr<Value> in_value);
  bool Get(size_t index, const Value** out_value) const;
  bool Get(size_t index, Value** out_value);
  bool GetBoolean(size_t index, bool* out_value) const;
  bool GetInteger(size_t index, int* out_value) const;
  bool GetString(size_t index, std::string* out_value) const;
  bool GetString(size_t index, string16* out_value) const;
  bool GetDictionary(size_t index, const DictionaryValue** out_value) const;
  bool GetDictionary(size_t index, DictionaryValue** out_value);

  void Append(std::unique_ptr<Value> in_value);
  void AppendBoolean(bool in_value);
  void AppendInteger(int in_value);
  void AppendString(StringPiece in_value);
  void AppendString(const string16& in_value);

  std::unique_ptr<ListValue> CreateDeepCopy() const;

 private:
  Type ObjectClass() const override;

  DISALLOW_COPY_AND_ASSIGN(ListValue);
};

// Turns a value into text.
class ValueSerializer {
 public:
  virtual ~ValueSerializer();
  virtual bool Serialize(const Value& root) = 0;
};

// Turns text into a value. On failure the result is null and, when given,
// |error_code| and |error_str| describe why.
class ValueDeserializer {
 public:
  virtual ~ValueDeserializer();
  virtual std::unique_ptr<Value> Deserialize(int* error_code,
                                             std::string* error_str) = 0;
};

}  // namespace base

#endif  // BASE_VALUES_H_
