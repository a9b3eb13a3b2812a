#include "base/values.h"

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <typeinfo>
#include <utility>
#include <vector>

#include "base/json/json_reader.h"
#include "gtest/gtest.h"

namespace base {
namespace {

TEST(ValuesTest, ConstructionAndTypes) {
  EXPECT_TRUE(Value().is_none());
  EXPECT_EQ(Value::Type::BOOLEAN, Value(true).type());
  EXPECT_EQ(Value::Type::INTEGER, Value(3).type());
  EXPECT_EQ(Value::Type::DOUBLE, Value(3.5).type());
  EXPECT_EQ(Value::Type::STRING, Value("literal").type());
  EXPECT_EQ("literal", Value("literal").GetString());
  EXPECT_EQ("\xC3\xA9", Value(L"\u00e9").GetString());
  EXPECT_EQ(Value::Type::BINARY, Value(Value::BlobStorage{1, 2}).type());
  EXPECT_EQ(Value::Type::DICTIONARY, Value(Value::Type::DICTIONARY).type());
  EXPECT_TRUE(Value(Value::Type::LIST).list_storage().empty());
  EXPECT_EQ("", Value(Value::Type::STRING).GetString());
  EXPECT_EQ(0, Value(Value::Type::INTEGER).GetInt());
}

TEST(ValuesTest, NonFiniteDoublesBecomeZero) {
  EXPECT_EQ(0.0, Value(std::numeric_limits<double>::quiet_NaN()).GetDouble());
  EXPECT_EQ(0.0, Value(std::numeric_limits<double>::infinity()).GetDouble());
  EXPECT_EQ(0.0, Value(-std::numeric_limits<double>::infinity()).GetDouble());
  DictionaryValue dict;
  dict.SetDouble("x", std::numeric_limits<double>::infinity());
  double out = 5;
  EXPECT_TRUE(dict.GetDouble("x", &out));
  EXPECT_EQ(0.0, out);
}

TEST(ValuesTest, GetAsConversions) {
  Value integer(7);
  double d = 0;
  EXPECT_TRUE(integer.GetAsDouble(&d));
  EXPECT_EQ(7.0, d);
  int i = 99;
  EXPECT_FALSE(Value(7.0).GetAsInteger(&i));
  EXPECT_EQ(99, i);
  std::string s = "untouched";
  EXPECT_FALSE(Value(1).GetAsString(&s));
  EXPECT_FALSE(Value(true).GetAsString(&s));
  EXPECT_EQ("untouched", s);
  EXPECT_TRUE(Value("x").GetAsString(static_cast<std::string*>(nullptr)));
  string16 wide;
  EXPECT_TRUE(Value("\xC3\xA9").GetAsString(&wide));
  EXPECT_EQ(L"\u00e9", wide);
  bool b = false;
  EXPECT_FALSE(Value(1).GetAsBoolean(&b));
  EXPECT_TRUE(Value(true).GetAsBoolean(&b));
  EXPECT_TRUE(b);
}

TEST(ValuesTest, DottedPathSetAndGet) {
  DictionaryValue dict;
  dict.SetInteger("a.b.c", 5);
  const DictionaryValue* a = nullptr;
  const DictionaryValue* b = nullptr;
  ASSERT_TRUE(dict.GetDictionary("a", &a));
  ASSERT_TRUE(a->GetDictionary("b", &b));
  int c = 0;
  EXPECT_TRUE(b->GetInteger("c", &c));
  EXPECT_EQ(5, c);
  EXPECT_TRUE(dict.GetInteger("a.b.c", &c));
  EXPECT_EQ(1u, dict.size());

  // A non-dictionary in the way is replaced.
  DictionaryValue replaced;
  replaced.SetInteger("a", 1);
  replaced.SetString("a.b", "x");
  std::string text;
  EXPECT_TRUE(replaced.GetString("a.b", &text));
  EXPECT_EQ("x", text);

  // A list in the way stops Get.
  DictionaryValue with_list;
  with_list.Set("a", std::make_unique<ListValue>());
  const Value* out = nullptr;
  EXPECT_FALSE(with_list.Get("a.b", &out));
  EXPECT_EQ(nullptr, out);
  EXPECT_TRUE(with_list.Get("a", &out));
  EXPECT_TRUE(out->is_list());

  // Two dots in a row name the empty key.
  DictionaryValue empty_key;
  empty_key.SetInteger("x..y", 3);
  EXPECT_TRUE(empty_key.GetDictionary("x.", &a));
  EXPECT_TRUE(a->HasKey("y"));
  EXPECT_NE(nullptr, empty_key.FindPath({"x", "", "y"}));
}

TEST(ValuesTest, KeysWithDotsNeedTheExactForms) {
  DictionaryValue dict;
  dict.SetWithoutPathExpansion("a.b", std::make_unique<Value>(1));
  EXPECT_TRUE(dict.HasKey("a.b"));
  EXPECT_FALSE(dict.Get("a.b", static_cast<const Value**>(nullptr)));
  EXPECT_FALSE(dict.RemovePath("a.b", nullptr));
  std::unique_ptr<Value> removed;
  EXPECT_TRUE(dict.RemoveWithoutPathExpansion("a.b", &removed));
  ASSERT_TRUE(removed);
  EXPECT_EQ(1, removed->GetInt());
  EXPECT_FALSE(dict.RemoveWithoutPathExpansion("a.b", nullptr));
}

TEST(ValuesTest, TypedGetters) {
  DictionaryValue dict;
  dict.SetDouble("d", 2.5);
  dict.SetString("s", "caf\xC3\xA9");
  dict.SetString("ascii", "plain");
  dict.SetString("wide", string16(L"\u00e9"));
  int i = 4;
  EXPECT_FALSE(dict.GetInteger("d", &i));
  EXPECT_EQ(4, i);
  std::string s = "keep";
  EXPECT_FALSE(dict.GetStringASCII("s", &s));
  EXPECT_EQ("keep", s);
  EXPECT_TRUE(dict.GetStringASCII("ascii", &s));
  EXPECT_EQ("plain", s);
  string16 w;
  EXPECT_TRUE(dict.GetString("wide", &w));
  EXPECT_EQ(L"\u00e9", w);
  EXPECT_FALSE(dict.GetString("missing", &s));
  const ListValue* list = nullptr;
  EXPECT_FALSE(dict.GetList("s", &list));
}

TEST(ValuesTest, RemovePathRemovesEmptiedParents) {
  DictionaryValue dict;
  dict.SetInteger("a.b", 1);
  std::unique_ptr<Value> out;
  EXPECT_TRUE(dict.RemovePath("a.b", &out));
  EXPECT_EQ(1, out->GetInt());
  EXPECT_FALSE(dict.HasKey("a"));

  dict.SetInteger("a.b", 1);
  dict.SetInteger("a.c", 2);
  EXPECT_TRUE(dict.RemovePath("a.b", nullptr));
  EXPECT_TRUE(dict.HasKey("a"));
  int c = 0;
  EXPECT_TRUE(dict.GetInteger("a.c", &c));

  dict.SetInteger("x.y.z", 1);
  EXPECT_TRUE(dict.RemovePath("x.y.z", nullptr));
  EXPECT_FALSE(dict.HasKey("x"));
  EXPECT_FALSE(dict.RemovePath("a.missing", nullptr));
  EXPECT_TRUE(dict.HasKey("a"));
}

TEST(ValuesTest, KeyOrderIsUnsignedBytes) {
  DictionaryValue dict;
  for (const char* key : {"b", "B", "a", "ab", "\xC3\xA9", "A"})
    dict.SetInteger(key, 1);
  std::vector<std::string> keys;
  for (DictionaryValue::Iterator it(dict); !it.IsAtEnd(); it.Advance())
    keys.push_back(it.key());
  EXPECT_EQ(std::vector<std::string>({"A", "B", "a", "ab", "b", "\xC3\xA9"}),
            keys);
}

TEST(ValuesTest, Equality) {
  EXPECT_NE(Value(1), Value(1.0));
  EXPECT_EQ(Value(0.0), Value(-0.0));
  EXPECT_EQ(Value(), Value());
  EXPECT_NE(Value("a"), Value("b"));
  EXPECT_NE(Value(Value::BlobStorage{1}), Value(Value::BlobStorage{1, 0}));

  DictionaryValue first;
  first.SetInteger("x", 1);
  first.SetString("y", "s");
  DictionaryValue second;
  second.SetString("y", "s");
  second.SetInteger("x", 1);
  EXPECT_TRUE(first.Equals(&second));
  second.SetInteger("x", 2);
  EXPECT_FALSE(first.Equals(&second));
  EXPECT_FALSE(first.Equals(nullptr));

  ListValue l1, l2;
  l1.AppendInteger(1);
  l2.AppendInteger(1);
  EXPECT_EQ(static_cast<Value&>(l1), static_cast<Value&>(l2));
  l2.AppendInteger(2);
  EXPECT_NE(static_cast<Value&>(l1), static_cast<Value&>(l2));
}

TEST(ValuesTest, MergeDictionary) {
  DictionaryValue base_dict;
  base_dict.SetInteger("a.x", 1);
  base_dict.SetInteger("a.y", 2);
  base_dict.SetInteger("keep", 9);
  DictionaryValue other;
  other.SetInteger("a.y", 3);
  other.SetInteger("b", 4);
  base_dict.MergeDictionary(&other);

  DictionaryValue expected;
  expected.SetInteger("a.x", 1);
  expected.SetInteger("a.y", 3);
  expected.SetInteger("b", 4);
  expected.SetInteger("keep", 9);
  EXPECT_TRUE(base_dict.Equals(&expected));

  // A dictionary replaces a non-dictionary, and is a copy.
  DictionaryValue flat;
  flat.SetInteger("a", 1);
  DictionaryValue nested;
  nested.SetInteger("a.y", 3);
  flat.MergeDictionary(&nested);
  nested.SetInteger("a.y", 4);
  int y = 0;
  EXPECT_TRUE(flat.GetInteger("a.y", &y));
  EXPECT_EQ(3, y);
}

TEST(ValuesTest, ToUniquePtrValueTakesKindAndContents) {
  DictionaryValue dict;
  dict.SetInteger("a.b", 1);
  ListValue list;
  list.AppendString("x");
  Value* originals[] = {&dict, &list};
  for (Value* original : originals) {
    const Value expected = original->Clone();
    std::unique_ptr<Value> owned =
        Value::ToUniquePtrValue(std::move(*original));
    EXPECT_EQ(expected, *owned);
    EXPECT_EQ(expected.type(), original->type());
    EXPECT_NE(expected, *original);  // Moved from: empty.
  }
  std::unique_ptr<Value> text = Value::ToUniquePtrValue(Value("t"));
  EXPECT_EQ("t", text->GetString());

  // Children stored in a dictionary, and deep copies, are reached as what
  // they are, through the class of their kind.
  DictionaryValue root;
  root.Set("d", Value::ToUniquePtrValue(Value(Value::Type::DICTIONARY)));
  root.SetInteger("d.e.f", 2);
  DictionaryValue* d = nullptr;
  ASSERT_TRUE(root.GetDictionary("d.e", &d));
  d->SetInteger("g", 3);
  std::unique_ptr<Value> copy = root.Value::CreateDeepCopy();
  DictionaryValue* copied = nullptr;
  ASSERT_TRUE(copy->GetAsDictionary(&copied));
  int g = 0;
  EXPECT_TRUE(copied->GetInteger("d.e.g", &g));
  EXPECT_EQ(3, g);
}

TEST(ValuesTest, ListSetPadsWithNone) {
  ListValue list;
  EXPECT_TRUE(list.Set(5, std::make_unique<Value>(true)));
  ASSERT_EQ(6u, list.GetSize());
  for (size_t i = 0; i < 5; ++i)
    EXPECT_TRUE(list.list_storage()[i]->is_none());
  EXPECT_TRUE(list.list_storage()[5]->GetBool());
  EXPECT_FALSE(list.Set(7, nullptr));
  EXPECT_EQ(6u, list.GetSize());
  EXPECT_TRUE(list.Set(0, std::make_unique<Value>("zero")));
  std::string s;
  EXPECT_TRUE(list.GetString(0, &s));
  EXPECT_EQ("zero", s);
  EXPECT_FALSE(list.GetString(5, &s));
  EXPECT_FALSE(list.GetString(6, &s));
  list.AppendString(L"w");
  EXPECT_TRUE(list.GetString(6, &s));
  EXPECT_EQ("w", s);
}

TEST(ValuesTest, MovesLeaveEmptyValuesOfTheSameType) {
  Value str("some text that is long enough to live on the heap");
  Value taken(std::move(str));
  EXPECT_TRUE(str.is_string());
  EXPECT_EQ("", str.GetString());
  EXPECT_EQ("some text that is long enough to live on the heap",
            taken.GetString());

  DictionaryValue dict;
  dict.SetInteger("a", 1);
  Value moved(std::move(static_cast<Value&>(dict)));
  EXPECT_TRUE(dict.is_dict());
  EXPECT_TRUE(dict.empty());
  EXPECT_EQ(1u, moved.dict_storage().size());

  Value target(5);
  target = std::move(moved);
  EXPECT_TRUE(target.is_dict());
}

TEST(ValuesTest, ChildAddressesStayStableAndCopiesAreDeep) {
  DictionaryValue dict;
  Value* child = dict.SetInteger("m", 1);
  for (char c = 'a'; c <= 'z'; ++c)
    dict.SetInteger(std::string(1, c) + "x", c);
  const Value* found = nullptr;
  ASSERT_TRUE(dict.Get("m", &found));
  EXPECT_EQ(child, found);

  std::unique_ptr<DictionaryValue> copy = dict.CreateDeepCopy();
  EXPECT_TRUE(copy->Equals(&dict));
  copy->SetInteger("m", 2);
  int m = 0;
  EXPECT_TRUE(dict.GetInteger("m", &m));
  EXPECT_EQ(1, m);

  Value* path_value = dict.FindPath({"m"});
  EXPECT_EQ(child, path_value);
  EXPECT_EQ(&dict, static_cast<Value*>(&dict)->FindPath({}));
  EXPECT_EQ(nullptr, dict.FindPath({"m", "x"}));
}

// Walks |value| through GetAsDictionary, GetAsList and the list and
// dictionary getters, expecting each container handed out to be an object of
// its class (the tree's own checks would not notice a mere cast).
void ExpectContainersOfTheirClass(const Value& value, const std::string& at) {
  if (value.is_dict()) {
    const DictionaryValue* dict = nullptr;
    ASSERT_TRUE(value.GetAsDictionary(&dict)) << at;
    EXPECT_EQ(typeid(DictionaryValue), typeid(*dict)) << at;
    for (DictionaryValue::Iterator it(*dict); !it.IsAtEnd(); it.Advance())
      ExpectContainersOfTheirClass(it.value(), at + "." + it.key());
  } else if (value.is_list()) {
    const ListValue* list = nullptr;
    ASSERT_TRUE(value.GetAsList(&list)) << at;
    EXPECT_EQ(typeid(ListValue), typeid(*list)) << at;
    for (size_t i = 0; i < list->GetSize(); ++i) {
      const DictionaryValue* element = nullptr;
      if (list->GetDictionary(i, &element)) {
        EXPECT_EQ(typeid(DictionaryValue), typeid(*element)) << at << i;
      }
      const Value* item = nullptr;
      ASSERT_TRUE(list->Get(i, &item));
      ExpectContainersOfTheirClass(*item, at + "[" + std::to_string(i) + "]");
    }
  }
}

TEST(ValuesTest, ContainersReachedAreObjectsOfTheirClass) {
  std::unique_ptr<Value> parsed =
      JSONReader::Read("[{\"a\": [{\"b\": {}}, [[], {}]]}, [{}], 1]");
  ASSERT_TRUE(parsed);

  // Containers made as plain Values, handed to a list in every way.
  ListValue built;
  built.Append(std::make_unique<Value>(Value::Type::DICTIONARY));
  built.Append(std::make_unique<Value>(parsed->Clone()));
  built.Set(3, std::make_unique<Value>(Value::Type::LIST));
  Value::ListStorage storage;
  storage.push_back(std::make_unique<Value>(Value::Type::DICTIONARY));
  built.Append(std::make_unique<Value>(std::move(storage)));
  Value::DictStorage entries;
  entries.emplace_back("l", std::make_unique<Value>(Value::Type::LIST));
  built.Append(std::make_unique<Value>(std::move(entries)));

  std::unique_ptr<Value> parsed_copy = parsed->CreateDeepCopy();
  std::unique_ptr<ListValue> built_copy = built.CreateDeepCopy();
  const std::pair<const char*, const Value*> roots[] = {
      {"parsed", parsed.get()},
      {"parsed copy", parsed_copy.get()},
      {"built", &built},
      {"built copy", built_copy.get()},
  };
  for (const auto& root : roots)
    ExpectContainersOfTheirClass(*root.second, root.first);
}

TEST(ValuesTest, PlainValueContainersAreNotReachedAsDerived) {
  Value moved_into;
  moved_into = Value(Value::Type::DICTIONARY);
  Value list(Value::Type::LIST);
  DictionaryValue* dict = nullptr;
  ListValue* as_list = nullptr;
  EXPECT_TRUE(moved_into.is_dict());
  EXPECT_FALSE(moved_into.GetAsDictionary(&dict));
  EXPECT_FALSE(list.GetAsList(&as_list));
  EXPECT_EQ(nullptr, dict);
  EXPECT_EQ(nullptr, as_list);
  // Stored in a tree they become objects of their class.
  ListValue holder;
  holder.Append(std::make_unique<Value>(std::move(moved_into)));
  EXPECT_TRUE(holder.GetDictionary(0, &dict));
  ASSERT_NE(nullptr, dict);
  EXPECT_EQ(typeid(DictionaryValue), typeid(*dict));
}

}  // namespace
}  // namespace base
