#ifndef DESKTOP_WINDOWS_INSTALLER_AVRO_STATS_AVRO_CODEC_H_
#define DESKTOP_WINDOWS_INSTALLER_AVRO_STATS_AVRO_CODEC_H_

#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/macros.h"
#include "base/memory/scoped_refptr.h"

namespace installer {

// The kind of a schema node; the values are part of the node's identity.
enum AvroType : uint32_t {
  AVRO_NULL = 1,
  AVRO_BOOLEAN = 2,
  AVRO_STRING = 3,
  AVRO_INT = 4,
  AVRO_LONG = 5,
  AVRO_FLOAT = 6,
  AVRO_DOUBLE = 7,
  AVRO_ENUM = 8,
  AVRO_UNION = 9,
  AVRO_RECORD = 10,
  AVRO_ARRAY = 11,
  AVRO_MAP = 12,
  AVRO_BYTES = 13,
};

// One node of a writer schema, built in code and shared read-only between
// threads once built.
class AvroSchema {
 public:
  using Field = std::pair<std::string, base::scoped_refptr<AvroSchema>>;

  static base::scoped_refptr<AvroSchema> MakeNull(uint32_t id);
  static base::scoped_refptr<AvroSchema> MakeBoolean(uint32_t id);
  static base::scoped_refptr<AvroSchema> MakeString(uint32_t id);
  static base::scoped_refptr<AvroSchema> MakeInt(uint32_t id);
  static base::scoped_refptr<AvroSchema> MakeLong(uint32_t id);
  static base::scoped_refptr<AvroSchema> MakeArray(
      uint32_t id, base::scoped_refptr<AvroSchema> items);
  static base::scoped_refptr<AvroSchema> MakeMap(
      uint32_t id, base::scoped_refptr<AvroSchema> values);
  // A symbol seen before is skipped.
  static base::scoped_refptr<AvroSchema> MakeEnum(
      uint32_t id,
      const std::string& name_space,
      const std::string& name,
      const std::vector<std::string>& symbols);
  // A field whose name was seen before is skipped.
  static base::scoped_refptr<AvroSchema> MakeRecord(
      uint32_t id,
      const std::string& name_space,
      const std::string& name,
      const std::vector<Field>& fields);
  // Null when a branch is missing or repeats the kind of an earlier one
  // (only enums and records may repeat): a reader could not tell such
  // branches apart.
  static base::scoped_refptr<AvroSchema> MakeUnion(
      uint32_t id,
      const std::vector<base::scoped_refptr<AvroSchema>>& branches);

  void AddRef() const;
  void Release() const;

  AvroType type() const { return type_; }
  uint32_t id() const { return id_; }
  const std::string& name() const { return name_; }

  // Symbols of an enum, fields of a record, branches of a union; else 0.
  size_t GetChildCount() const;
  std::vector<std::string> GetFieldNames() const;
  const std::vector<std::string>& symbols() const { return symbols_; }
  // Items of an array, values of a map; null for other kinds.
  AvroSchema* GetItemsSchema() const;
  // Record field |i| or union branch |i|; null out of range.
  AvroSchema* GetChild(size_t i) const;
  // Index of the record field |name|, or -1.
  int FindField(const std::string& name) const;

 private:
  AvroSchema(AvroType type, uint32_t id);
  ~AvroSchema();

  mutable std::atomic<uint32_t> ref_count_{0};
  const AvroType type_;
  const uint32_t id_;
  base::scoped_refptr<AvroSchema> items_;
  base::scoped_refptr<AvroSchema> values_;
  std::vector<base::scoped_refptr<AvroSchema>> branches_;
  std::vector<Field> fields_;
  std::vector<std::string> symbols_;
  std::string namespace_;
  std::string name_;

  DISALLOW_COPY_AND_ASSIGN(AvroSchema);
};

// One value of a datum tree that mirrors its schema; owned by its parent.
class AvroDatum {
 public:
  // A datum reset to the schema's defaults: zero, empty, union branch 0,
  // enum index 0, one default child per record field.
  explicit AvroDatum(base::scoped_refptr<AvroSchema> schema);
  ~AvroDatum();

  const AvroSchema* schema() const { return schema_.get(); }

  // A record's field or a map's existing value; null otherwise.
  AvroDatum* FieldByName(const std::string& name);
  // Follows the dotted |path| field by field, moving into branch 1 of every
  // union reached; null when a part does not exist.
  AvroDatum* FieldByPath(const std::string& path);
  // Null when |index| is not a branch; keeps the current branch datum when
  // the index does not change.
  AvroDatum* SelectBranch(uint64_t index);
  AvroDatum* GetBranch() const { return branch_.get(); }
  uint64_t branch_index() const { return branch_index_; }

  bool SetEnumIndex(uint64_t index);
  bool SetEnumBySymbol(const std::string& symbol);
  uint64_t enum_index() const { return enum_index_; }

  // Null for kinds other than array and map respectively.
  AvroDatum* AppendItem();
  AvroDatum* MapValue(const std::string& key);
  // A fresh value for |key|, replacing any value the key had (a reader
  // meeting a key again takes the later value whole). Null for other kinds.
  AvroDatum* ReplaceMapValue(const std::string& key);
  const std::map<std::string, std::unique_ptr<AvroDatum>>& map_entries() const {
    return map_;
  }

  // Array item or record field |i|; null out of range or for other kinds.
  AvroDatum* GetChild(size_t i) const;
  size_t GetItemCount() const { return items_.size(); }

  void SetBool(bool value) { bool_ = value; }
  void SetInt(int32_t value) { int_ = value; }
  void SetLong(int64_t value) { long_ = value; }
  void SetFloat(float value) { float_ = value; }
  void SetDouble(double value) { double_ = value; }
  void SetString(const std::string& value) { string_ = value; }
  bool GetBool() const { return bool_; }
  int32_t GetInt() const { return int_; }
  int64_t GetLong() const { return long_; }
  float GetFloat() const { return float_; }
  double GetDouble() const { return double_; }
  const std::string& GetString() const { return string_; }

 private:
  friend class AvroEncoder;

  base::scoped_refptr<AvroSchema> schema_;
  uint8_t bool_ = 0;
  double double_ = 0;
  float float_ = 0;
  int32_t int_ = 0;
  int64_t long_ = 0;
  std::string string_;
  std::vector<std::unique_ptr<AvroDatum>> items_;
  std::map<std::string, std::unique_ptr<AvroDatum>> map_;
  std::vector<std::unique_ptr<AvroDatum>> fields_;
  uint64_t branch_index_ = 0;
  std::unique_ptr<AvroDatum> branch_;
  uint64_t enum_index_ = 0;

  DISALLOW_COPY_AND_ASSIGN(AvroDatum);
};

// Set the field at |path| below |record| (as FieldByPath finds it, which
// logs a missing one); nothing is set when the field is missing. A literal
// takes the const char* overload, not the bool one.
void SetAtPath(AvroDatum* record,
               const std::string& path,
               const std::string& value);
void SetAtPath(AvroDatum* record, const std::string& path, const char* value);
void SetAtPath(AvroDatum* record, const std::string& path, int32_t value);
void SetAtPath(AvroDatum* record, const std::string& path, int64_t value);
void SetAtPath(AvroDatum* record, const std::string& path, bool value);

// For members that are written only when present.
template <typename T>
void SetIfPresent(AvroDatum* record,
                  const std::string& path,
                  const std::optional<T>& value) {
  if (value)
    SetAtPath(record, path, *value);
}

// Writes and reads the Avro binary encoding of datums.
class AvroEncoder {
 public:
  // Bytes of the signature that leads the signed form.
  static constexpr size_t kSignatureSize = 32;

  AvroEncoder();
  virtual ~AvroEncoder();

  virtual std::string Encode(const AvroDatum& datum);
  // The signature of the encoding, then the encoding.
  virtual std::string EncodeSigned(const AvroDatum& datum);
  // Byte 0, the schema id as 4 bytes big-endian, then the encoding.
  virtual std::string EncodeWithSchemaId(const AvroDatum& datum);
  // Null unless |bytes| hold exactly one valid datum of |schema|.
  virtual std::unique_ptr<AvroDatum> Decode(
      base::scoped_refptr<AvroSchema> schema, const std::string& bytes);
  // Null when the signature does not match the encoding behind it.
  virtual std::unique_ptr<AvroDatum> DecodeSigned(
      base::scoped_refptr<AvroSchema> schema, const std::string& bytes);

 private:
  void Write(const AvroDatum& datum);
  void WriteLong(int64_t value);
  void WriteString(const std::string& value);

  std::string output_;

  DISALLOW_COPY_AND_ASSIGN(AvroEncoder);
};

// The 32-byte signature of an encoding (HMAC-SHA256 under the key derived
// from the process's statistics password).
std::string SignStatisticsPayload(const std::string& encoding);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_AVRO_STATS_AVRO_CODEC_H_
