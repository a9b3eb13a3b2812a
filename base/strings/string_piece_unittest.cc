#include "base/strings/string_piece.h"

#include <string.h>

#include <map>
#include <sstream>
#include <string>
#include <unordered_set>
#include <vector>

#include "gtest/gtest.h"

namespace base {

TEST(StringPieceTest, Construction) {
  const char* null_str = nullptr;
  StringPiece from_null(null_str);
  EXPECT_TRUE(from_null.empty());
  EXPECT_EQ(0u, from_null.size());

  StringPiece from_literal("abc");
  EXPECT_EQ(3u, from_literal.size());

  const std::string with_nul("a\0b", 3);
  StringPiece from_string(with_nul);
  EXPECT_EQ(3u, from_string.size());
  EXPECT_EQ(with_nul.data(), from_string.data());

  StringPiece from_pair(with_nul.data(), 1);
  EXPECT_EQ("a", from_pair.as_string());

  StringPiece16 wide(L"wide");
  EXPECT_EQ(4u, wide.size());
  EXPECT_EQ(L"wide", wide.as_string());
  EXPECT_EQ(std::wstring(), StringPiece16().as_string());
}

TEST(StringPieceTest, Equality) {
  // Two empty views are equal whatever their pointers.
  const char buf[] = "xyz";
  EXPECT_TRUE(StringPiece() == StringPiece(buf, 0));
  EXPECT_TRUE(StringPiece16() == StringPiece16(L"", 0));
  EXPECT_TRUE(StringPiece("ab") == std::string("ab"));
  EXPECT_TRUE(std::string("ab") == StringPiece("ab"));
  EXPECT_FALSE(StringPiece("ab") == StringPiece("abc"));
  EXPECT_FALSE(StringPiece("abd") == StringPiece("abc"));
  EXPECT_TRUE(StringPiece("a\0b", 3) != StringPiece("a\0c", 3));
  EXPECT_TRUE(StringPiece("ab") < StringPiece("abc"));
  EXPECT_TRUE(StringPiece("abd") > StringPiece("abc"));
  // Bytes compare unsigned, as strings do.
  EXPECT_TRUE(StringPiece("\x7f") < StringPiece("\x80"));
  EXPECT_TRUE(StringPiece16(L"a") <= StringPiece16(L"a"));
  EXPECT_TRUE(StringPiece16(L"b") >= StringPiece16(L"a"));
  EXPECT_EQ(0, StringPiece("abc").compare("abc"));
  EXPECT_GT(0, StringPiece("ab").compare("abc"));
}

TEST(StringPieceTest, TransparentMapLookupAndHash) {
  std::map<std::string, int, std::less<>> map;
  map["alpha"] = 1;
  map["beta"] = 2;
  const char text[] = "alphabet";
  auto it = map.find(StringPiece(text, 5));
  ASSERT_NE(map.end(), it);
  EXPECT_EQ(1, it->second);
  EXPECT_EQ(map.end(), map.find(StringPiece(text, 4)));

  std::map<std::string, int, StringPieceLess> named;
  named["beta"] = 2;
  EXPECT_EQ(1u, named.count(StringPiece("beta")));

  EXPECT_EQ(StringPieceHash()(StringPiece(text, 5)),
            StringPieceHash()(std::string("alpha")));
  std::unordered_set<StringPiece, StringPieceHash> set;
  set.insert(StringPiece("x"));
  EXPECT_EQ(1u, set.count(std::string("x")));
  EXPECT_EQ(StringPiece16Hash()(L"ab"),
            StringPiece16Hash()(std::wstring(L"ab")));
}

TEST(StringPieceTest, StreamWritesEmbeddedNuls) {
  std::ostringstream out;
  out << StringPiece("a\0b", 3) << StringPiece();
  EXPECT_EQ(std::string("a\0b", 3), out.str());
}

TEST(StringPieceTest, CopyAndAppend) {
  std::string target = "old";
  StringPiece("new").CopyToString(&target);
  EXPECT_EQ("new", target);
  StringPiece().CopyToString(&target);
  EXPECT_EQ("", target);
  target = "a";
  StringPiece("bc").AppendToString(&target);
  StringPiece().AppendToString(&target);
  EXPECT_EQ("abc", target);

  std::wstring wide = L"x";
  StringPiece16(L"yz").AppendToString(&wide);
  EXPECT_EQ(L"xyz", wide);
  StringPiece16(L"q").CopyToString(&wide);
  EXPECT_EQ(L"q", wide);

  char buf[4] = {};
  EXPECT_EQ(2u, StringPiece("abcd").copy(buf, 2, 1));
  EXPECT_EQ('b', buf[0]);
  EXPECT_EQ('c', buf[1]);
  EXPECT_EQ(0u, StringPiece("abcd").copy(buf, 2, 4));
}

TEST(StringPieceTest, SubstrClampsInsteadOfFailing) {
  StringPiece piece("abcd");
  StringPiece past = piece.substr(10, 2);
  EXPECT_TRUE(past.empty());
  EXPECT_EQ(piece.data() + 4, past.data());
  EXPECT_EQ("bcd", piece.substr(1).as_string());
  EXPECT_EQ("bc", piece.substr(1, 2).as_string());
  EXPECT_EQ(L"cd", StringPiece16(L"abcd").substr(2, 100).as_string());

  StringPiece trimmed = piece;
  trimmed.remove_prefix(1);
  trimmed.remove_suffix(1);
  EXPECT_EQ("bc", trimmed);
  trimmed.remove_prefix(10);
  EXPECT_TRUE(trimmed.empty());
  EXPECT_TRUE(piece.starts_with("ab"));
  EXPECT_TRUE(piece.ends_with("cd"));
  EXPECT_FALSE(piece.ends_with("abcde"));
}

// Every search agrees with the standard string's at every start position,
// past the end and npos included, for sets of one and of several units.
template <typename Piece, typename String>
void ExpectSearchesLikeString(const String& text, const String& needle) {
  const Piece piece(text);
  const Piece needle_piece(needle);
  std::vector<size_t> positions = {String::npos};
  for (size_t pos = 0; pos <= text.size() + 1; ++pos)
    positions.push_back(pos);
  for (size_t pos : positions) {
    SCOPED_TRACE(testing::Message() << "at " << pos);
    EXPECT_EQ(text.find(needle, pos), piece.find(needle_piece, pos));
    EXPECT_EQ(text.rfind(needle, pos), piece.rfind(needle_piece, pos));
    EXPECT_EQ(text.find_first_of(needle, pos),
              piece.find_first_of(needle_piece, pos));
    EXPECT_EQ(text.find_last_of(needle, pos),
              piece.find_last_of(needle_piece, pos));
    EXPECT_EQ(text.find_first_not_of(needle, pos),
              piece.find_first_not_of(needle_piece, pos));
    EXPECT_EQ(text.find_last_not_of(needle, pos),
              piece.find_last_not_of(needle_piece, pos));
    if (needle.empty())
      continue;
    const auto c = needle[0];
    EXPECT_EQ(text.find(c, pos), piece.find(c, pos));
    EXPECT_EQ(text.rfind(c, pos), piece.rfind(c, pos));
    EXPECT_EQ(text.find_first_of(c, pos), piece.find_first_of(c, pos));
    EXPECT_EQ(text.find_last_of(c, pos), piece.find_last_of(c, pos));
    EXPECT_EQ(text.find_first_not_of(c, pos), piece.find_first_not_of(c, pos));
    EXPECT_EQ(text.find_last_not_of(c, pos), piece.find_last_not_of(c, pos));
  }
}

TEST(StringPieceTest, SearchesAgreeWithTheStandardString) {
  // High bytes index the narrow set table as unsigned values.
  const char* const kTexts[] = {"",
                                "abca",
                                "abcabc",
                                "a,b;c",
                                "  x \t",
                                "aaa",
                                "a\xff"
                                "b"};
  const char* const kNeedles[] = {"",  "a",   "abc", "abcd", ",;",
                                  ";", " \t", " x",  "xy",   "\xff\xfe"};
  for (const char* text : kTexts) {
    for (const char* needle : kNeedles) {
      SCOPED_TRACE(testing::Message()
                   << '"' << text << "\" / \"" << needle << '"');
      ExpectSearchesLikeString<StringPiece>(std::string(text),
                                            std::string(needle));
      ExpectSearchesLikeString<StringPiece16>(
          std::wstring(text, text + strlen(text)),
          std::wstring(needle, needle + strlen(needle)));
    }
  }
}

}  // namespace base
