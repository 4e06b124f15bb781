// SPDX-License-Identifier: MIT
#include "toolkit/kt_typed_containers.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "support/kt_container_fixtures.h"
#include "support/temp_folder.h"
#include "toolkit/kt_key_handlers.h"
#include "toolkit/kt_tree.h"

namespace kt {
namespace {

using namespace kt::testing;

Bytes Saved(TKtContainer& container) {
  TMemoryStream stream;
  container.WriteData(&stream);
  return stream.Bytes();
}

void Load(TKtContainer& container, const Bytes& bytes) {
  TMemoryStream stream;
  stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  stream.SetPosition(0);
  container.ReadData(&stream);
}

const WideString& KeyText(const TKtHash& hash, int32_t index) {
  return static_cast<const TKtWideStringRef*>(hash.GetKey(index))->Get();
}

WideString ItemText(const TKtHash& hash, int32_t index) {
  return static_cast<const TKtWideStringRef*>(hash.GetItem(index))->Get();
}

int32_t IndexOfText(const TKtHash& hash, const WideString& text) {
  const TKtWideStringRef key = TKtWideStringRef::Borrow(text);
  return hash.IndexOfKey(&key);
}

void* InsertText(TKtHash& hash, const WideString& text) {
  const TKtWideStringRef key = TKtWideStringRef::Borrow(text);
  return hash.InsertKey(&key);
}

TEST(KtKeyHandlersTest, HashMixes) {
  EXPECT_EQ(HashWideStringCS(u"a", 1), 97u);
  EXPECT_EQ(HashWideStringCS(u"ab", 2), 3105u);
  EXPECT_EQ(HashWideStringCI(u"AB", 2), 3105u);
  EXPECT_EQ(HashWideStringCS(u"", 0), 0u);
  EXPECT_EQ(HashCardinalKey(1), 2938272695u);
  EXPECT_EQ(HashCardinalKey(0xFFFFFFFFu), 75334879u);
  EXPECT_EQ(HashWideCharKey(u'A'), 997217872u);

  const WideString ab = u"ab";
  const TKtWideStringRef key = TKtWideStringRef::Borrow(ab);
  EXPECT_EQ(WideStringCSKeyHandler()->OnHashKey()(&key), 3105u);
  EXPECT_EQ(WideStringCSKeyHandler()->OnHashKeyBuf()(u"ab", 2), 3105u);
  const WideString upper = u"AB";
  const TKtWideStringRef upper_key = TKtWideStringRef::Borrow(upper);
  EXPECT_EQ(WideStringCIKeyHandler()->OnHashKey()(&upper_key), 3105u);
  EXPECT_EQ(WideStringCIKeyHandler()->OnHashKeyBuf()(u"aB", 2), 3105u);
  const uint32_t one = 1;
  EXPECT_EQ(CardinalKeyHandler()->OnHashKey()(&one), 2938272695u);
}

TEST(KtSharedHandlersTest, OneInstanceEachEvenWhenFirstAskedFromManyThreads) {
  std::vector<std::thread> threads;
  std::vector<const void*> seen(16);
  for (size_t i = 0; i < seen.size(); ++i) {
    threads.emplace_back([&seen, i] { seen[i] = i % 2 ? static_cast<const void*>(WideString2CardinalItemHandler())
                                                      : static_cast<const void*>(WideStringCIKeyHandler()); });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(std::set<const void*>(seen.begin(), seen.end()).size(), 2u);
  EXPECT_EQ(WideStringItemHandler(), WideStringItemHandler());

  TKtWideStringVector vector;
  EXPECT_EQ(ContainerErrorOf([] { WideStringItemHandler()->SetOnFreeItem(nullptr); }),
            "Class TKtItemHandler: ItemHandler in use while assigning OnFreeItem");
}

TEST(KtWideString2CardinalVectorTest, LooksItemsUpByTheirNumber) {
  TKtWideString2CardinalVector tag;
  tag.AddItem(u"href", u"a.html", 3);
  tag.AddItem(u"rel", u"alternate", 7);
  tag.AddItem(u"HREF", u"b.html", 3);
  EXPECT_EQ(tag.IndexOfCardinal(7), 1);
  EXPECT_EQ(tag.IndexOfCardinal(9), -1);
  EXPECT_EQ(tag.FindCardinal(9), nullptr);
  EXPECT_EQ(tag.FindCardinal(3)->first.Get(), u"href");
  EXPECT_EQ(tag.StringOfCardinal(3), u"a.html") << "the first of two items with the number";
  EXPECT_EQ(tag.StringOfCardinal(9), u"");
  EXPECT_EQ(tag.GetString(2), u"HREF");
  EXPECT_EQ(tag.GetSecondString(1), u"alternate");
  EXPECT_EQ(ContainerErrorOf([&] { tag.GetSecondString(3); }),
            "Class TKtWideString2CardinalVector: List index out of bounds (3)");
}

TEST(KtWideString2CardinalVectorTest, StreamCarriesLogicalItemSizeAndEveryField) {
  TKtWideString2CardinalVector tag;
  tag.AddItem(u"href", u"x", 3);
  tag.AddItem(u"", u"\u20AC", 0xFFFFFFFFu);
  const Bytes bytes = Saved(tag);
  EXPECT_EQ(bytes, Concat({BytesOf("KTVC"), {2, 1}, {2, 12}, {2, 2},
                           {35, 8, 'h', 0, 'r', 0, 'e', 0, 'f', 0}, {35, 2, 'x', 0}, {2, 3},
                           {34}, {35, 2, 0xAC, 0x20}, {12, 0xFF, 0xFF, 0xFF, 0xFF}}));
  TKtWideString2CardinalVector copy;
  Load(copy, bytes);
  ASSERT_EQ(copy.Count(), 2);
  EXPECT_EQ(copy.GetString(0), u"href");
  EXPECT_EQ(copy.GetSecondString(0), u"x");
  EXPECT_EQ(copy.StringOfCardinal(0xFFFFFFFFu), u"\u20AC");
  EXPECT_EQ(copy.GetString(1), u"");
}

TEST(KtWideString2CardinalVectorTest, ReadingWithAnotherItemSizeFails) {
  TKtItemHandler wider;
  const TKtItemHandler& shared = *WideString2CardinalItemHandler();
  wider.SetItemSize(shared.ItemSize() + 4);
  wider.SetOnInitItem(shared.OnInitItem());
  wider.SetOnFreeItem(shared.OnFreeItem());
  wider.SetOnReadItem(shared.OnReadItem());
  wider.SetOnWriteItem(shared.OnWriteItem());
  wider.SetOnReadHeader(shared.OnReadHeader());
  wider.SetOnWriteHeader(shared.OnWriteHeader());
  TKtWideString2CardinalVector tag;
  tag.AddItem(u"a", u"b", 1);
  {
    TKtWideString2CardinalVector reader(&wider);
    EXPECT_EQ(ContainerErrorOf([&] { Load(reader, Saved(tag)); }),
              "Class TKtWideString2CardinalVector: Invalid ItemSize (12)");
    reader.AddItem(u"c", u"d", 2);
    std::memcpy(reinterpret_cast<uint8_t*>(reader.FindCardinal(2)) + shared.ItemSize(), "wxyz", 4);
    const Bytes wide = Saved(reader);
    EXPECT_EQ(Bytes(wide.begin() + 6, wide.begin() + 8), (Bytes{2, 16})) << "extra bytes count in the header";
    EXPECT_EQ(BytesOf("wxyz"), Bytes(wide.end() - 4, wide.end())) << "and follow the item raw";
    EXPECT_EQ(ContainerErrorOf([&] { Load(tag, wide); }), "Class TKtWideString2CardinalVector: Invalid ItemSize (16)");
  }
}

TEST(KtWideStringHashTest, StringItemsSurviveGrowthDeletionAndPacking) {
  auto hash = NewWideStringHash(WideStringCSKeyHandler());
  for (int i = 0; i < 500; ++i) {
    const WideString key = u"key" + Utf8ToWide(std::to_string(i));
    static_cast<TKtWideStringRef*>(InsertText(*hash, key))->Assign(u"value " + key);
  }
  for (int i = 0; i < 500; i += 2) {
    const WideString key = u"key" + Utf8ToWide(std::to_string(i));
    const TKtWideStringRef ref = TKtWideStringRef::Borrow(key);
    hash->DeleteKey(&ref);
  }
  EXPECT_EQ(hash->Count(), 250);
  for (int i = 1; i < 500; i += 2) {
    const WideString key = u"key" + Utf8ToWide(std::to_string(i));
    const int32_t index = IndexOfText(*hash, key);
    ASSERT_GE(index, 0) << i;
    EXPECT_EQ(KeyText(*hash, index), key);
    EXPECT_EQ(ItemText(*hash, index), u"value " + key);
  }
  EXPECT_EQ(IndexOfText(*hash, u"KEY1"), -1) << "case-sensitive keys";
}

TEST(KtWideStringHashTest, KeysAreCopiedWhenStoredAndFoundFromBuffers) {
  TKtWideStringHash hash(WideStringCIKeyHandler());
  WideString name = u"Title";
  InsertText(hash, name);
  name = u"changed";
  EXPECT_GE(IndexOfText(hash, u"TITLE"), 0);
  const WideString text = u"<TiTlE>";
  EXPECT_EQ(hash.IndexOfKeyBuf(text.data() + 1, 5), IndexOfText(hash, u"title"));
  void* item = hash.InsertKeyBuf(u"meta", 4);
  EXPECT_EQ(hash.InsertKeyBuf(u"META", 4), item);
  EXPECT_EQ(KeyText(hash, hash.IndexOfKeyBuf(u"Meta", 4)), u"meta");
  EXPECT_EQ(hash.Count(), 2);
}

TEST(KtCardinalHashTest, ValueOfKeyLooksNamesUpFromTheTextBuffer) {
  auto names = NewCardinalHash(WideStringCIKeyHandler());
  *static_cast<uint32_t*>(InsertText(*names, u"href")) = 12;
  *static_cast<uint32_t*>(InsertText(*names, u"src")) = 40;
  EXPECT_EQ(names->ValueOfKey(u"HREF", 4), 12u);
  EXPECT_EQ(names->ValueOfKey(u"href", 4), 12u);
  EXPECT_EQ(names->ValueOfKey(u"hre", 3), 0u);
  EXPECT_EQ(names->ValueOfKey(u"alt", 3), 0u);

  TKtCardinalHash exact(WideStringCSKeyHandler());
  *static_cast<uint32_t*>(InsertText(exact, u"href")) = 12;
  EXPECT_EQ(exact.ValueOfKey(u"HREF", 4), 0u);
  EXPECT_EQ(exact.ValueOfKey(u"href", 4), 12u);
}

TEST(KtTypedContainersTest, EveryContainerComesBackFromAStream) {
  TKtWideStringVector strings;
  for (int i = 0; i < 300; ++i) static_cast<TKtWideStringRef*>(strings.InsertFirst())->Assign(Utf8ToWide(std::to_string(i)));
  strings.AddString(u"");
  TKtWideStringVector strings_copy;
  Load(strings_copy, Saved(strings));
  ASSERT_EQ(strings_copy.Count(), 301);
  for (int32_t i = 0; i < 301; ++i) EXPECT_EQ(strings_copy.GetString(i), strings.GetString(i));

  TKtWideStringHash by_name(WideStringCIKeyHandler());
  static_cast<TKtWideStringRef*>(InsertText(by_name, u"Alpha"))->Assign(u"first");
  static_cast<TKtWideStringRef*>(InsertText(by_name, u"beta"))->Assign(u"second");
  TKtWideStringHash by_name_copy(WideStringCIKeyHandler());
  Load(by_name_copy, Saved(by_name));
  EXPECT_EQ(ItemText(by_name_copy, IndexOfText(by_name_copy, u"ALPHA")), u"first");
  EXPECT_EQ(KeyText(by_name_copy, IndexOfText(by_name_copy, u"BETA")), u"beta");

  TKtCardinalHash by_number(CardinalKeyHandler());
  for (uint32_t key = 0; key < 100; ++key) *static_cast<uint32_t*>(by_number.InsertKey(&key)) = key * 3;
  TKtCardinalHash by_number_copy(CardinalKeyHandler());
  Load(by_number_copy, Saved(by_number));
  for (uint32_t key = 0; key < 100; ++key) {
    EXPECT_EQ(*static_cast<uint32_t*>(by_number_copy.GetItem(by_number_copy.IndexOfKey(&key))), key * 3);
  }

  TKtCardinalHash by_char(WideCharCSKeyHandler());
  for (WideChar c : {u'a', u'A', u'\u00E9'}) *static_cast<uint32_t*>(by_char.InsertKey(&c)) = c;
  TKtCardinalHash by_char_copy(WideCharCSKeyHandler());
  Load(by_char_copy, Saved(by_char));
  const WideChar e_acute = u'\u00E9';
  EXPECT_EQ(*static_cast<uint32_t*>(by_char_copy.GetItem(by_char_copy.IndexOfKey(&e_acute))), 0xE9u);
  EXPECT_EQ(by_char_copy.Count(), 3);

  TKtTree tree(WideStringItemHandler());
  void* root = tree.InsertLast();
  static_cast<TKtWideStringRef*>(root)->Assign(u"html");
  static_cast<TKtWideStringRef*>(tree.NewChild(root))->Assign(u"head");
  static_cast<TKtWideStringRef*>(tree.NewChild(root))->Assign(u"body");
  TKtTree tree_copy(WideStringItemHandler());
  Load(tree_copy, Saved(tree));
  WideString walk;
  for (void* item = tree_copy.First(); item != nullptr; item = tree_copy.Next(item)) {
    walk += static_cast<TKtWideStringRef*>(item)->Get() + u"/";
  }
  EXPECT_EQ(walk, u"html/head/body/");
}

TEST(KtTypedContainersTest, AssignCopiesTheStrings) {
  TKtWideString2CardinalVector tag;
  tag.AddItem(u"name", u"value", 1);
  TKtWideString2CardinalVector copy;
  copy.Assign(tag);
  tag.FindCardinal(1)->second.Assign(u"changed");
  EXPECT_EQ(copy.StringOfCardinal(1), u"value");
}

TEST(KtTypedContainersTest, ContainersShareOneFileOneAfterTheOther) {
  testing_support::TempFolder folder;
  const std::string path = folder.File("containers.bin");
  TKtWideString2CardinalVector tag;
  tag.AddItem(u"href", u"feed.xml", 1);
  TKtCardinalHash names(WideStringCIKeyHandler());
  *static_cast<uint32_t*>(names.InsertKeyBuf(u"link", 4)) = 9;
  {
    TFileStream file(path, FileMode::Create);
    tag.WriteData(&file);
    names.WriteData(&file);
  }
  TFileStream file(path, FileMode::OpenRead);
  TKtWideString2CardinalVector tag_copy;
  TKtCardinalHash names_copy(WideStringCIKeyHandler());
  tag_copy.ReadData(&file);
  names_copy.ReadData(&file);
  EXPECT_EQ(tag_copy.StringOfCardinal(1), u"feed.xml");
  EXPECT_EQ(names_copy.ValueOfKey(u"LINK", 4), 9u);
  EXPECT_EQ(file.Position(), file.Size());
}

TEST(KtWideStringRefTest, ZeroedIsEmptyAndAssigningFromItselfKeepsTheText) {
  TKtWideStringRef ref{};
  EXPECT_TRUE(ref.Empty());
  EXPECT_EQ(ref.Get(), u"");
  ref.Assign(u"abcdef");
  ref.Assign(std::u16string_view(ref.Get()).substr(2, 3));
  EXPECT_EQ(ref.Get(), u"cde");
  ref.Assign(ref.Get());
  EXPECT_EQ(ref.Get(), u"cde");
  ref.Assign(u"");
  EXPECT_TRUE(ref.Empty());
  ref.Release();
}

}  // namespace
}  // namespace kt
