// On Windows the lead-byte set comes from the system's ANSI code page. The CI runs these tests
// once under code page 1252 and once under 932, and names the one it expects in
// TAVRIN_EXPECT_ACP so that a run in the wrong code page cannot pass unnoticed.
#ifdef _WIN32
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "CodePage.h"
#include "FileIOTools.h"
#include "TavrinFunctions.h"
#include "TempDir.h"

namespace tavrin {
namespace {

// Sets the current set from the system and puts the previous one back afterwards.
class CodePageFromSystem : public ::testing::Test {
 protected:
  void SetUp() override { InitCodePageFromLocale(); }
  void TearDown() override { SetCurrentLeadByteSet(saved_); }

 private:
  LeadByteSet saved_ = CurrentLeadByteSet();
};

TEST_F(CodePageFromSystem, TheExpectedCodePageIsInForce) {
  const char* expected = std::getenv("TAVRIN_EXPECT_ACP");
  if (expected == nullptr) GTEST_SKIP() << "TAVRIN_EXPECT_ACP not set";
  EXPECT_EQ(std::to_string(::GetACP()), expected);
}

TEST_F(CodePageFromSystem, LeadBytesAreThoseOfTheAnsiCodePage) {
  const UINT codePage = ::GetACP();
  EXPECT_EQ(CurrentCodeSetName(), "CP" + std::to_string(codePage));
  if (codePage == 932) {
    EXPECT_EQ(CurrentLeadByteSet(), LeadByteSet::ShiftJis());
  } else if (codePage == 1252) {
    EXPECT_TRUE(CurrentLeadByteSet().Empty());
  }
  for (int b = 0; b < 256; ++b) {
    const auto byte = static_cast<unsigned char>(b);
    EXPECT_EQ(CurrentLeadByteSet().Contains(byte), ::IsDBCSLeadByte(byte) != 0) << b;
  }
}

TEST_F(CodePageFromSystem, ConversionOfAShiftJisFileFollowsIt) {
  // ソ is 0x83 0x5C: its second byte is a backslash, which the table turns into a slash.
  const std::string so = "\x83\x5C";
  testing::TempDir dir;
  // Names are UTF-8 whatever the code page: ソ in a name holds no backslash byte, so the output
  // goes beside the input.
  const std::string path = dir / "sjisソ.html";
  testing::WriteBytes(path, "<p>" + so + "\\</p>");
  WriteStringToFile(path + ".txt", ConvertWithTable(ReadFileToString(path), {{"\\", "/"}}));
  const std::string expected = ::GetACP() == 932 ? so + "/" : "\x83//";
  EXPECT_EQ(testing::ReadBytes(path + ".txt"), expected);
}

// Names outside the ANSI code page (and Japanese ones in 1252) name exactly their own file: an
// ANSI call would miss them or, by best-fit mapping, reach another file.
TEST_F(CodePageFromSystem, NamesOutsideTheCodePageReadAndWriteTheirOwnFile) {
  for (const std::string name : {"한글.html", "日本語ソ表.html", "\xF0\x9F\x98\x80.html"}) {
    testing::TempDir dir;
    const std::string path = dir / name;
    testing::WriteBytes(path, "<b>x</b>");
    EXPECT_EQ(ReadFileToString(path), "<b>x</b>") << name;
    WriteStringToFile(path + ".txt", "x");
    EXPECT_EQ(testing::ReadBytes(path + ".txt"), "x") << name;
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
      ++files;
      const std::string found = testing::PathText(entry.path().filename());
      EXPECT_TRUE(found == name || found == name + ".txt") << found;
    }
    EXPECT_EQ(files, 2) << name;
  }
}

TEST_F(CodePageFromSystem, ANameThatIsNotUtf8OpensNothing) {
  testing::TempDir dir;
  const std::string path = dir / "sjis" + std::string("\x83\x5C") + ".html";
  EXPECT_THROW(ReadFileToString(path), EFOpenError);
  EXPECT_THROW(WriteStringToFile(path, "x"), EFCreateError);
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

}  // namespace
}  // namespace tavrin
#endif  // _WIN32
