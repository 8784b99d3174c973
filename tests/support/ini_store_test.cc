#include "support/ini_store.h"

#include <gtest/gtest.h>

namespace zv {
namespace {

TEST(IniStoreTest, LoadingNormalisesLinesAndRenderingWritesThemBack) {
  const TIniStore store = TIniStore::FromText(
      "\xEF\xBB\xBF"
      "before=dropped\n"
      "; comment\r"
      "[ First ]\r\n"
      "  a  =  b = c  \n"
      "\t; indented comment\n"
      "   \n"
      "no pair here \n"
      "=empty key\n"
      "[second]\r\n"
      "x=");
  EXPECT_EQ(store.Render(),
            "[First]\r\na=b = c\r\nno pair here\r\n=empty key\r\n\r\n"
            "[second]\r\nx=\r\n\r\n");
  EXPECT_EQ(store.Value("FIRST", "A"), "b = c");
  EXPECT_EQ(store.Value("first", "no pair here"), std::nullopt);
  EXPECT_EQ(store.Value("Second", "x"), "");
  EXPECT_EQ(store.Value("third", "x"), std::nullopt);
}

TEST(IniStoreTest, OnlyALeadingUtf8MarkIsSkippedAndBadBytesBecomeReplacements) {
  // A UTF-16 mark is not recognised: its bytes stay on the first line, which
  // then is not a section header and is dropped as text before any section.
  EXPECT_TRUE(TIniStore::FromText("\xFF\xFE[S]\r\nk=v\r\n").Sections().empty());
  EXPECT_EQ(TIniStore::FromText("[S]\nk=a\xFFz\n").Value("S", "k"), "a\xEF\xBF\xBDz");
}

TEST(IniStoreTest, DuplicateSectionsAreAllKeptButOnlyTheFirstIsUsed) {
  TIniStore store = TIniStore::FromText("[S]\nk=1\n[s]\nk=2\n");
  EXPECT_EQ(store.Value("S", "k"), "1");
  store.SetValue("S", "K", "3");
  EXPECT_EQ(store.Render(), "[S]\r\nK=3\r\n\r\n[s]\r\nk=2\r\n\r\n");
  store.EraseSection("s");
  EXPECT_EQ(store.Value("S", "k"), "2");
}

TEST(IniStoreTest, WritesReplaceInPlaceOrAppend) {
  TIniStore store = TIniStore::FromText("[Sec]\nOne=1\nTwo=2\n");
  store.SetValue("sec", "ONE", "uno");
  store.SetValue("SEC", "Three", "3");
  store.SetValue("New", "k", " padded ");
  store.DeleteKey("sec", "two");
  store.DeleteKey("missing", "two");
  EXPECT_EQ(store.Render(), "[Sec]\r\nONE=uno\r\nThree=3\r\n\r\n[New]\r\nk= padded \r\n\r\n");
}

}  // namespace
}  // namespace zv
