#include "desktop/windows/installer/avro_stats/avro_codec.h"

#include <string.h>

#include <limits>

#include "base/logging.h"
#include "crypto/hmac.h"
#include "crypto/symmetric_key.h"

namespace installer {

namespace {

// The salt of the statistics signing key.
const char kSigningSalt[] = "QmTr8WvkPz3LxnBy5sHd";
const size_t kSigningIterations = 5;
const size_t kSigningKeyBits = 128;

// Longest varint of a 64-bit value: 10 groups of 7 bits.
const int kMaxVarintBytes = 10;

// The process's statistics password. Nothing sets it, so the key is the
// one derived from the empty password; it is kept as a slot so that a
// build which provisions one has a single place to do it.
const std::string& GetStatisticsPassword() {
  static const std::string* const password = new std::string();
  return *password;
}

bool InInt32Range(int64_t value) {
  return value >= std::numeric_limits<int32_t>::min() &&
         value <= std::numeric_limits<int32_t>::max();
}

// Reads one datum from a queue of bytes; every read fails when the bytes
// run out.
class AvroReader {
 public:
  explicit AvroReader(const std::string& bytes) : bytes_(bytes) {}

  bool AtEnd() const { return position_ == bytes_.size(); }

  bool Read(AvroDatum* datum) {
    const AvroSchema* schema = datum->schema();
    switch (schema->type()) {
      case AVRO_NULL:
        return true;
      case AVRO_BOOLEAN: {
        std::string byte;
        if (!ReadBytes(1, &byte))
          return false;
        if (byte[0] != 0 && byte[0] != 1) {
          LOG(ERROR) << "Avro boolean byte " << static_cast<int>(byte[0]);
          return false;
        }
        datum->SetBool(byte[0] == 1);
        return true;
      }
      case AVRO_INT: {
        int64_t value;
        if (!ReadLong(&value) || !InInt32Range(value))
          return false;
        datum->SetInt(static_cast<int32_t>(value));
        return true;
      }
      case AVRO_LONG: {
        int64_t value;
        if (!ReadLong(&value))
          return false;
        datum->SetLong(value);
        return true;
      }
      case AVRO_FLOAT: {
        uint64_t bits;
        if (!ReadLittleEndian(4, &bits))
          return false;
        uint32_t narrow = static_cast<uint32_t>(bits);
        float value;
        memcpy(&value, &narrow, sizeof(value));
        datum->SetFloat(value);
        return true;
      }
      case AVRO_DOUBLE: {
        uint64_t bits;
        if (!ReadLittleEndian(8, &bits))
          return false;
        double value;
        memcpy(&value, &bits, sizeof(value));
        datum->SetDouble(value);
        return true;
      }
      case AVRO_STRING:
      case AVRO_BYTES: {
        std::string value;
        if (!ReadString(&value))
          return false;
        datum->SetString(value);
        return true;
      }
      case AVRO_ENUM: {
        int64_t index;
        if (!ReadLong(&index) || !InInt32Range(index) || index < 0)
          return false;
        return datum->SetEnumIndex(static_cast<uint64_t>(index));
      }
      case AVRO_UNION: {
        int64_t index;
        if (!ReadLong(&index) || index < 0)
          return false;
        AvroDatum* branch = datum->SelectBranch(static_cast<uint64_t>(index));
        return branch && Read(branch);
      }
      case AVRO_RECORD:
        for (size_t i = 0; i < schema->GetChildCount(); ++i) {
          if (!Read(datum->GetChild(i)))
            return false;
        }
        return true;
      case AVRO_ARRAY:
      case AVRO_MAP:
        return ReadBlocks(datum);
    }
    return false;
  }

 private:
  // Block byte sizes (negative counts) are not written by any writer of
  // these messages; a negative count ends the value like a zero.
  bool ReadBlocks(AvroDatum* datum) {
    const bool is_map = datum->schema()->type() == AVRO_MAP;
    for (;;) {
      int64_t count;
      if (!ReadLong(&count))
        return false;
      if (count < 1)
        return true;
      // Every item of the statistics schema takes at least one byte; a
      // larger count is a corrupt or hostile length that would otherwise
      // make the reader build items without end.
      if (static_cast<uint64_t>(count) > bytes_.size() - position_) {
        LOG(ERROR) << "Avro block of " << count << " items exceeds the input";
        return false;
      }
      for (int64_t i = 0; i < count; ++i) {
        AvroDatum* item;
        if (is_map) {
          std::string key;
          if (!ReadString(&key))
            return false;
          item = datum->ReplaceMapValue(key);
        } else {
          item = datum->AppendItem();
        }
        if (!item || !Read(item))
          return false;
      }
    }
  }

  bool ReadBytes(size_t count, std::string* out) {
    if (bytes_.size() - position_ < count)
      return false;
    out->assign(bytes_, position_, count);
    position_ += count;
    return true;
  }

  bool ReadLittleEndian(size_t count, uint64_t* value) {
    std::string raw;
    if (!ReadBytes(count, &raw))
      return false;
    *value = 0;
    for (size_t i = 0; i < count; ++i)
      *value |= static_cast<uint64_t>(static_cast<uint8_t>(raw[i])) << (8 * i);
    return true;
  }

  bool ReadLong(int64_t* value) {
    uint64_t raw = 0;
    for (int i = 0; i < kMaxVarintBytes; ++i) {
      if (position_ == bytes_.size())
        return false;
      const uint8_t byte = static_cast<uint8_t>(bytes_[position_++]);
      // The tenth byte holds only bit 63; anything more would be dropped
      // and a corrupt value read as a plausible one.
      if (i == kMaxVarintBytes - 1 && byte > 1) {
        LOG(ERROR) << "Avro varint wider than 64 bits";
        return false;
      }
      raw |= static_cast<uint64_t>(byte & 0x7F) << (7 * i);
      if (!(byte & 0x80)) {
        *value =
            static_cast<int64_t>(raw >> 1) ^ -static_cast<int64_t>(raw & 1);
        return true;
      }
    }
    LOG(ERROR) << "Avro varint longer than " << kMaxVarintBytes << " bytes";
    return false;
  }

  bool ReadString(std::string* value) {
    int64_t length;
    if (!ReadLong(&length) || length < 0)
      return false;
    if (static_cast<uint64_t>(length) > bytes_.size() - position_)
      return false;
    return ReadBytes(static_cast<size_t>(length), value);
  }

  const std::string& bytes_;
  size_t position_ = 0;
};

}  // namespace

// AvroSchema ------------------------------------------------------------------

AvroSchema::AvroSchema(AvroType type, uint32_t id) : type_(type), id_(id) {}

AvroSchema::~AvroSchema() = default;

void AvroSchema::AddRef() const {
  ref_count_.fetch_add(1, std::memory_order_relaxed);
}

void AvroSchema::Release() const {
  if (ref_count_.fetch_sub(1, std::memory_order_acq_rel) == 1)
    delete this;
}

base::scoped_refptr<AvroSchema> AvroSchema::MakeNull(uint32_t id) {
  return new AvroSchema(AVRO_NULL, id);
}

base::scoped_refptr<AvroSchema> AvroSchema::MakeBoolean(uint32_t id) {
  return new AvroSchema(AVRO_BOOLEAN, id);
}

base::scoped_refptr<AvroSchema> AvroSchema::MakeString(uint32_t id) {
  return new AvroSchema(AVRO_STRING, id);
}

base::scoped_refptr<AvroSchema> AvroSchema::MakeInt(uint32_t id) {
  return new AvroSchema(AVRO_INT, id);
}

base::scoped_refptr<AvroSchema> AvroSchema::MakeLong(uint32_t id) {
  return new AvroSchema(AVRO_LONG, id);
}

base::scoped_refptr<AvroSchema> AvroSchema::MakeArray(
    uint32_t id, base::scoped_refptr<AvroSchema> items) {
  if (!items)
    return nullptr;
  base::scoped_refptr<AvroSchema> schema = new AvroSchema(AVRO_ARRAY, id);
  schema->items_ = std::move(items);
  return schema;
}

base::scoped_refptr<AvroSchema> AvroSchema::MakeMap(
    uint32_t id, base::scoped_refptr<AvroSchema> values) {
  if (!values)
    return nullptr;
  base::scoped_refptr<AvroSchema> schema = new AvroSchema(AVRO_MAP, id);
  schema->values_ = std::move(values);
  return schema;
}

base::scoped_refptr<AvroSchema> AvroSchema::MakeEnum(
    uint32_t id,
    const std::string& name_space,
    const std::string& name,
    const std::vector<std::string>& symbols) {
  base::scoped_refptr<AvroSchema> schema = new AvroSchema(AVRO_ENUM, id);
  schema->namespace_ = name_space;
  schema->name_ = name;
  for (const std::string& symbol : symbols) {
    bool seen = false;
    for (const std::string& existing : schema->symbols_)
      seen = seen || existing == symbol;
    if (!seen)
      schema->symbols_.push_back(symbol);
  }
  return schema;
}

base::scoped_refptr<AvroSchema> AvroSchema::MakeRecord(
    uint32_t id,
    const std::string& name_space,
    const std::string& name,
    const std::vector<Field>& fields) {
  base::scoped_refptr<AvroSchema> schema = new AvroSchema(AVRO_RECORD, id);
  schema->namespace_ = name_space;
  schema->name_ = name;
  for (const Field& field : fields) {
    if (!field.second) {
      LOG(ERROR) << "Avro record " << name << ": field " << field.first
                 << " has no schema";
      return nullptr;
    }
    if (schema->FindField(field.first) < 0)
      schema->fields_.push_back(field);
  }
  return schema;
}

base::scoped_refptr<AvroSchema> AvroSchema::MakeUnion(
    uint32_t id, const std::vector<base::scoped_refptr<AvroSchema>>& branches) {
  base::scoped_refptr<AvroSchema> schema = new AvroSchema(AVRO_UNION, id);
  for (const base::scoped_refptr<AvroSchema>& branch : branches) {
    if (!branch)
      return nullptr;
    const AvroType type = branch->type();
    if (type != AVRO_ENUM && type != AVRO_RECORD) {
      for (const base::scoped_refptr<AvroSchema>& existing :
           schema->branches_) {
        if (existing->type() == type) {
          LOG(ERROR) << "Avro union repeats the branch kind " << type;
          return nullptr;
        }
      }
    }
    schema->branches_.push_back(branch);
  }
  return schema;
}

size_t AvroSchema::GetChildCount() const {
  switch (type_) {
    case AVRO_ENUM:
      return symbols_.size();
    case AVRO_RECORD:
      return fields_.size();
    case AVRO_UNION:
      return branches_.size();
    default:
      return 0;
  }
}

std::vector<std::string> AvroSchema::GetFieldNames() const {
  std::vector<std::string> names;
  for (const Field& field : fields_)
    names.push_back(field.first);
  return names;
}

AvroSchema* AvroSchema::GetItemsSchema() const {
  if (type_ == AVRO_ARRAY)
    return items_.get();
  if (type_ == AVRO_MAP)
    return values_.get();
  return nullptr;
}

AvroSchema* AvroSchema::GetChild(size_t i) const {
  if (type_ == AVRO_RECORD && i < fields_.size())
    return fields_[i].second.get();
  if (type_ == AVRO_UNION && i < branches_.size())
    return branches_[i].get();
  return nullptr;
}

int AvroSchema::FindField(const std::string& name) const {
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (fields_[i].first == name)
      return static_cast<int>(i);
  }
  return -1;
}

// AvroDatum -------------------------------------------------------------------

AvroDatum::AvroDatum(base::scoped_refptr<AvroSchema> schema)
    : schema_(std::move(schema)) {
  switch (schema_->type()) {
    case AVRO_RECORD:
      for (size_t i = 0; i < schema_->GetChildCount(); ++i)
        fields_.push_back(std::make_unique<AvroDatum>(schema_->GetChild(i)));
      break;
    case AVRO_UNION:
      SelectBranch(0);
      break;
    default:
      break;
  }
}

AvroDatum::~AvroDatum() = default;

AvroDatum* AvroDatum::FieldByName(const std::string& name) {
  if (schema_->type() == AVRO_RECORD) {
    const int index = schema_->FindField(name);
    return index < 0 ? nullptr : fields_[index].get();
  }
  if (schema_->type() == AVRO_MAP) {
    auto it = map_.find(name);
    return it == map_.end() ? nullptr : it->second.get();
  }
  return nullptr;
}

AvroDatum* AvroDatum::FieldByPath(const std::string& path) {
  AvroDatum* datum = this;
  size_t start = 0;
  for (;;) {
    const size_t dot = path.find('.', start);
    datum = datum->FieldByName(path.substr(start, dot - start));
    if (!datum) {
      LOG(ERROR) << "No statistics field " << path;
      return nullptr;
    }
    if (datum->schema()->type() == AVRO_UNION) {
      datum = datum->SelectBranch(1);
      if (!datum)
        return nullptr;
    }
    if (dot == std::string::npos)
      return datum;
    start = dot + 1;
  }
}

void SetAtPath(AvroDatum* record,
               const std::string& path,
               const std::string& value) {
  if (AvroDatum* field = record->FieldByPath(path))
    field->SetString(value);
}

void SetAtPath(AvroDatum* record, const std::string& path, const char* value) {
  SetAtPath(record, path, std::string(value));
}

void SetAtPath(AvroDatum* record, const std::string& path, int32_t value) {
  if (AvroDatum* field = record->FieldByPath(path))
    field->SetInt(value);
}

void SetAtPath(AvroDatum* record, const std::string& path, int64_t value) {
  if (AvroDatum* field = record->FieldByPath(path))
    field->SetLong(value);
}

void SetAtPath(AvroDatum* record, const std::string& path, bool value) {
  if (AvroDatum* field = record->FieldByPath(path))
    field->SetBool(value);
}

AvroDatum* AvroDatum::SelectBranch(uint64_t index) {
  if (schema_->type() != AVRO_UNION || index >= schema_->GetChildCount())
    return nullptr;
  if (index == branch_index_ && branch_)
    return branch_.get();
  branch_index_ = index;
  branch_ = std::make_unique<AvroDatum>(
      schema_->GetChild(static_cast<size_t>(index)));
  return branch_.get();
}

bool AvroDatum::SetEnumIndex(uint64_t index) {
  if (index >= schema_->symbols().size())
    return false;
  enum_index_ = index;
  return true;
}

bool AvroDatum::SetEnumBySymbol(const std::string& symbol) {
  const std::vector<std::string>& symbols = schema_->symbols();
  for (size_t i = 0; i < symbols.size(); ++i) {
    if (symbols[i] == symbol) {
      enum_index_ = i;
      return true;
    }
  }
  return false;
}

AvroDatum* AvroDatum::AppendItem() {
  if (schema_->type() != AVRO_ARRAY)
    return nullptr;
  items_.push_back(std::make_unique<AvroDatum>(schema_->GetItemsSchema()));
  return items_.back().get();
}

AvroDatum* AvroDatum::MapValue(const std::string& key) {
  if (schema_->type() != AVRO_MAP)
    return nullptr;
  std::unique_ptr<AvroDatum>& value = map_[key];
  if (!value)
    value = std::make_unique<AvroDatum>(schema_->GetItemsSchema());
  return value.get();
}

AvroDatum* AvroDatum::ReplaceMapValue(const std::string& key) {
  if (schema_->type() != AVRO_MAP)
    return nullptr;
  std::unique_ptr<AvroDatum>& value = map_[key];
  value = std::make_unique<AvroDatum>(schema_->GetItemsSchema());
  return value.get();
}

AvroDatum* AvroDatum::GetChild(size_t i) const {
  if (schema_->type() == AVRO_ARRAY)
    return i < items_.size() ? items_[i].get() : nullptr;
  if (schema_->type() == AVRO_RECORD)
    return i < fields_.size() ? fields_[i].get() : nullptr;
  return nullptr;
}

// AvroEncoder -----------------------------------------------------------------

AvroEncoder::AvroEncoder() = default;

AvroEncoder::~AvroEncoder() = default;

std::string AvroEncoder::Encode(const AvroDatum& datum) {
  output_.clear();
  Write(datum);
  return std::move(output_);
}

std::string AvroEncoder::EncodeSigned(const AvroDatum& datum) {
  const std::string encoding = Encode(datum);
  return SignStatisticsPayload(encoding) + encoding;
}

std::string AvroEncoder::EncodeWithSchemaId(const AvroDatum& datum) {
  const uint32_t id = datum.schema()->id();
  std::string framed(1, '\0');
  for (int shift = 24; shift >= 0; shift -= 8)
    framed.push_back(static_cast<char>((id >> shift) & 0xFF));
  return framed + Encode(datum);
}

std::unique_ptr<AvroDatum> AvroEncoder::Decode(
    base::scoped_refptr<AvroSchema> schema, const std::string& bytes) {
  if (!schema)
    return nullptr;
  auto datum = std::make_unique<AvroDatum>(std::move(schema));
  AvroReader reader(bytes);
  if (!reader.Read(datum.get())) {
    LOG(ERROR) << "Avro datum could not be read";
    return nullptr;
  }
  if (!reader.AtEnd()) {
    LOG(ERROR) << "Avro datum is followed by extra bytes";
    return nullptr;
  }
  return datum;
}

std::unique_ptr<AvroDatum> AvroEncoder::DecodeSigned(
    base::scoped_refptr<AvroSchema> schema, const std::string& bytes) {
  if (bytes.size() < kSignatureSize)
    return nullptr;
  const std::string encoding = bytes.substr(kSignatureSize);
  if (bytes.compare(0, kSignatureSize, SignStatisticsPayload(encoding)) != 0) {
    LOG(ERROR) << "Avro datum signature does not match";
    return nullptr;
  }
  return Decode(std::move(schema), encoding);
}

void AvroEncoder::Write(const AvroDatum& datum) {
  switch (datum.schema()->type()) {
    case AVRO_NULL:
      return;
    case AVRO_BOOLEAN:
      output_.push_back(datum.bool_ ? 1 : 0);
      return;
    case AVRO_INT:
      WriteLong(datum.int_);
      return;
    case AVRO_LONG:
      WriteLong(datum.long_);
      return;
    case AVRO_ENUM:
      WriteLong(static_cast<int64_t>(datum.enum_index_));
      return;
    case AVRO_FLOAT: {
      uint32_t bits;
      memcpy(&bits, &datum.float_, sizeof(bits));
      for (int i = 0; i < 4; ++i)
        output_.push_back(static_cast<char>((bits >> (8 * i)) & 0xFF));
      return;
    }
    case AVRO_DOUBLE: {
      uint64_t bits;
      memcpy(&bits, &datum.double_, sizeof(bits));
      for (int i = 0; i < 8; ++i)
        output_.push_back(static_cast<char>((bits >> (8 * i)) & 0xFF));
      return;
    }
    case AVRO_STRING:
    case AVRO_BYTES:
      WriteString(datum.string_);
      return;
    case AVRO_UNION:
      WriteLong(static_cast<int64_t>(datum.branch_index_));
      if (datum.branch_)
        Write(*datum.branch_);
      return;
    case AVRO_RECORD:
      for (const std::unique_ptr<AvroDatum>& field : datum.fields_)
        Write(*field);
      return;
    case AVRO_ARRAY:
      if (!datum.items_.empty()) {
        WriteLong(static_cast<int64_t>(datum.items_.size()));
        for (const std::unique_ptr<AvroDatum>& item : datum.items_)
          Write(*item);
      }
      WriteLong(0);
      return;
    case AVRO_MAP:
      if (!datum.map_.empty()) {
        WriteLong(static_cast<int64_t>(datum.map_.size()));
        for (const auto& entry : datum.map_) {
          WriteString(entry.first);
          Write(*entry.second);
        }
      }
      WriteLong(0);
      return;
  }
}

void AvroEncoder::WriteLong(int64_t value) {
  uint64_t zigzag =
      (static_cast<uint64_t>(value) << 1) ^ static_cast<uint64_t>(value >> 63);
  while (zigzag >= 0x80) {
    output_.push_back(static_cast<char>((zigzag & 0x7F) | 0x80));
    zigzag >>= 7;
  }
  output_.push_back(static_cast<char>(zigzag));
}

void AvroEncoder::WriteString(const std::string& value) {
  WriteLong(static_cast<int64_t>(value.size()));
  output_.append(value);
}

std::string SignStatisticsPayload(const std::string& encoding) {
  unsigned char digest[AvroEncoder::kSignatureSize] = {};
  std::unique_ptr<crypto::SymmetricKey> key =
      crypto::SymmetricKey::DeriveKeyFromPassword(
          crypto::SymmetricKey::AES, GetStatisticsPassword(), kSigningSalt,
          kSigningIterations, kSigningKeyBits);
  crypto::HMAC hmac(crypto::HMAC::SHA256);
  // Without a key the signature is all zero bytes.
  if (key && hmac.Init(key.get())) {
    if (!hmac.Sign(encoding, digest, sizeof(digest))) {
      LOG(ERROR) << "Statistics signature failed";
      memset(digest, 0, sizeof(digest));
    }
  } else {
    LOG(ERROR) << "Statistics signing key unavailable";
  }
  return std::string(reinterpret_cast<const char*>(digest), sizeof(digest));
}

}  // namespace installer
