// The private-profile INI file: text code page, names, edits that keep every
// other byte, value forms, atomic replacement and refused writes.
#include "IniDocument.h"
#include "IniFile.h"
#include "TestDirectory.h"
#include "Windows1251.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <iconv.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The C library's converter, an independent reference for the code page.
std::optional<std::string> Iconv(const std::string& input, const char* to, const char* from)
{
    iconv_t cd = ::iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return std::nullopt;
    }
    std::string in = input;
    std::string out(input.size() * 4 + 4, '\0');
    char* inPtr = in.data();
    char* outPtr = out.data();
    std::size_t inLeft = in.size();
    std::size_t outLeft = out.size();
    const std::size_t result = ::iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    ::iconv_close(cd);
    if (result == static_cast<std::size_t>(-1)) {
        return std::nullopt;
    }
    out.resize(out.size() - outLeft);
    return out;
}

// A literal with NUL bytes in it, all of it.
template <std::size_t N>
std::string Binary(const char (&literal)[N])
{
    return std::string(literal, N - 1);
}

// UTF-8 text as Windows-1251 bytes, by the reference converter.
std::string Cp(const std::string& utf8)
{
    const auto bytes = Iconv(utf8, "CP1251", "UTF-8");
    if (!bytes) {
        throw std::runtime_error("not representable in CP1251: " + utf8);
    }
    return *bytes;
}

TEST(Windows1251, EveryByteDecodesAsTheReferenceConverterDoes)
{
    for (int byte = 0; byte < 256; ++byte) {
        const std::string in(1, static_cast<char>(byte));
        const auto expected = Iconv(in, "UTF-8", "CP1251");
        const std::string decoded = Windows1251::ToUtf8(in);
        if (!expected) {
            EXPECT_EQ(decoded, "\xEF\xBF\xBD") << "byte " << byte;  // unassigned: U+FFFD
            continue;
        }
        EXPECT_EQ(decoded, *expected) << "byte " << byte;
        EXPECT_EQ(Windows1251::FromUtf8(decoded), in) << "byte " << byte;
    }
}

TEST(Windows1251, CharactersOutsideTheCodePageBecomeQuestionMarks)
{
    const struct {
        std::string utf8;
        std::string bytes;
    } cases[] = {
        {"Канал №1 €", Cp("Канал №1 €")},
        {"Ω", "?"},
        {"中文", "??"},
        {"é", "?"},
        {"\xFF\xFE", "??"},       // not UTF-8 at all
        {"\xD0", "?"},            // truncated sequence
        {"\xC0\xAF", "??"},       // overlong '/'
        {"\xED\xA0\x80", "???"},  // surrogate
        {"😀", "?"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Windows1251::FromUtf8(c.utf8), c.bytes) << c.utf8;
    }
}

struct LookupCase {
    const char* name;
    std::string file;
    std::string section;
    std::string key;
    std::optional<std::string> value;
};

class IniLookup : public testing::TestWithParam<LookupCase> {};

TEST_P(IniLookup, FindsTheFirstMatchRegardlessOfCase)
{
    const LookupCase& c = GetParam();
    const IniDocument document(c.file);
    EXPECT_EQ(document.Value(c.section, c.key), c.value);
    EXPECT_EQ(document.Bytes(), c.file) << "reading must not change the text";
}

const LookupCase LookupCases[] = {
    {"LatinCase", "[Sec]\r\nKey=1\r\n", "SEC", "kEY", "1"},
    {"CyrillicCase", Cp("[ПРИЛОЖЕНИЕ. общие]\r\nсОХРАНЕНИЕ настроек=1\r\n"), "Приложение. Общие",
     "Сохранение НАСТРОЕК", "1"},
    {"CyrillicOutsideRussian", Cp("[ЁҐЇЎЄІЈЉЊЋЌЏЂЃЅ]\r\nk=1\r\n"), "ёґїўєіјљњћќџђѓѕ", "K", "1"},
    {"LatinMIsNotCyrillicM", Cp("[s]\r\nМаксимум=1\r\n"), "s", "Mаксимум", std::nullopt},
    {"BlanksAroundNamesAndValues", "  [ \tS  ]  \r\n \t k \t=  v  v \t\r\n", "s", "K", "v  v"},
    {"FirstOfTwoEqualKeys", "[s]\r\nk=1\r\nK=2\r\n", "s", "k", "1"},
    {"FirstOfTwoEqualSections", "[s]\r\nk=1\r\n[S]\r\nk=2\r\nj=3\r\n", "s", "k", "1"},
    {"SecondEqualSectionIgnored", "[s]\r\nk=1\r\n[S]\r\nj=3\r\n", "s", "j", std::nullopt},
    {"CommentLine", "[s]\r\n;k=1\r\n", "s", ";k", std::nullopt},
    {"IndentedComment", "[s]\r\n  ;k=1\r\n", "s", "k", std::nullopt},
    {"HashIsNoComment", "[s]\r\n#k=1\r\n", "s", "#k", "1"},
    {"LineWithoutEquals", "[s]\r\nnothing here\r\nk=1\r\n", "s", "k", "1"},
    {"EqualsInValue", "[s]\r\nk=a=b\r\n", "s", "k", "a=b"},
    {"EmptyValue", "[s]\r\nk=\r\n", "s", "k", ""},
    {"EmptyKeySkipped", "[s]\r\n=1\r\n", "s", "", std::nullopt},
    {"KeyBeforeAnySection", "k=1\r\n[s]\r\n", "s", "k", std::nullopt},
    {"LfEndings", "[s]\nk=1\nj=2\n", "s", "j", "2"},
    {"CrEndings", "[s]\rk=1\rj=2\r", "s", "j", "2"},
    {"MixedEndings", "[a]\rk=1\n[s]\r\nj=2", "s", "j", "2"},
    {"EmptyLineIsNoLineEnd", "[s]\r\r\nk=1", "s", "k", "1"},
    {"HeaderWithoutBracket", "[s\r\nk=1\r\n", "s", "k", "1"},
    {"TextAfterHeader", "[s] ; note\r\nk=1\r\n", "s", "k", "1"},
    {"NulInValue", Binary("[s]\r\nk=a\0b\r\n"), "s", "k", std::string("a\0b", 3)},
    {"Utf8ByteOrderMark", "\xEF\xBB\xBF[Модуль]\r\nКлюч=значение\r\n", "модуль", "КЛЮЧ",
     "значение"},
    {"MissingSection", "[s]\r\nk=1\r\n", "t", "k", std::nullopt},
};

INSTANTIATE_TEST_SUITE_P(Cases, IniLookup, testing::ValuesIn(LookupCases),
                         [](const auto& test) { return std::string(test.param.name); });

struct EditCase {
    const char* name;
    std::string before;
    std::string section;
    std::string key;
    std::string value;
    std::string after;
    std::optional<std::string> readBack = std::nullopt;  // when not the value itself
};

class IniEdit : public testing::TestWithParam<EditCase> {};

TEST_P(IniEdit, ChangesOnlyTheLineOfTheKey)
{
    const EditCase& c = GetParam();
    IniDocument document(c.before);
    document.SetValue(c.section, c.key, c.value);
    EXPECT_EQ(document.Bytes(), c.after);
    // What was written reads back (line breaks become blanks, outer blanks go).
    std::string expected = c.value;
    for (char& ch : expected) {
        ch = (ch == '\r' || ch == '\n') ? ' ' : ch;
    }
    const IniDocument reread(document.Bytes());
    EXPECT_EQ(reread.Value(c.section, c.key), c.readBack.value_or(expected));
}

const EditCase EditCases[] = {
    {"ReplaceKeepsSpellingAndOtherBytes", "; c\r\n[S]\nKEY = old\r\nx=1", "s", "key", "new",
     "; c\r\n[S]\nKEY =new\r\nx=1"},
    {"ReplaceCyrillicKeyOfOtherCase", Cp("[Модуль]\r\nАЦП. КЛЮЧ=0\r\n"), "модуль", "ацп. ключ", "1",
     Cp("[Модуль]\r\nАЦП. КЛЮЧ=1\r\n")},
    {"ReplaceFirstOfTwoEqualKeys", "[s]\r\nk=1\r\nk=2\r\n", "s", "k", "3", "[s]\r\nk=3\r\nk=2\r\n"},
    {"AppendAfterLastKeyOfSection", "[a]\r\nk=1\r\n\r\n;b\r\n[b]\r\n", "a", "j", "2",
     "[a]\r\nk=1\r\nj=2\r\n\r\n;b\r\n[b]\r\n"},
    {"AppendToEmptySection", "[a]\n[b]\n", "a", "k", "1", "[a]\nk=1\r\n[b]\n"},
    {"AppendToLastLineWithoutEnd", "[a]\r\nk=1", "a", "j", "2", "[a]\r\nk=1\r\nj=2\r\n"},
    {"NewSectionAtEnd", "[a]\r\nk=1", "b", "j", "2", "[a]\r\nk=1\r\n[b]\r\nj=2\r\n"},
    {"NewSectionInEmptyFile", "", "b", "j", "2", "[b]\r\nj=2\r\n"},
    {"NewSectionInCodePage", "", "Модуль KSN48", "АЦП. Ключ", "знач",
     Cp("[Модуль KSN48]\r\nАЦП. Ключ=знач\r\n")},
    {"NewSectionAfterEqualOneIsNotNeeded", "[s]\r\n[S]\r\nk=1\r\n", "s", "j", "2",
     "[s]\r\nj=2\r\n[S]\r\nk=1\r\n"},
    {"LineBreaksInValueBecomeBlanks", "[s]\r\nk=1\r\n", "s", "k", "a\r\n[x]\nb",
     "[s]\r\nk=a  [x] b\r\n", "a  [x] b"},
    {"UnrepresentableBecomesQuestionMark", "[s]\r\n", "s", "k", "Ω1", "[s]\r\nk=?1\r\n", "?1"},
    {"Utf8FileStaysUtf8", "\xEF\xBB\xBF[s]\r\n", "s", "ключ", "Ω", "\xEF\xBB\xBF[s]\r\nключ=Ω\r\n"},
    {"BlankNamesTrimmed", "[s]\r\n", " s ", " k ", "1", "[s]\r\nk=1\r\n"},
};

INSTANTIATE_TEST_SUITE_P(Cases, IniEdit, testing::ValuesIn(EditCases),
                         [](const auto& test) { return std::string(test.param.name); });

TEST(IniEdit, RefusesNamesThatWouldNotReadBack)
{
    IniDocument document;
    EXPECT_THROW(document.SetValue("a]b", "k", "1"), std::invalid_argument);
    EXPECT_THROW(document.SetValue("a\nb", "k", "1"), std::invalid_argument);
    for (const char* key : {"", "  ", "a=b", "[k", ";k", "a\rb"}) {
        EXPECT_THROW(document.SetValue("s", key, "1"), std::invalid_argument) << key;
    }
    EXPECT_EQ(document.Bytes(), "");
}

TEST(IniValueForms, Integers)
{
    const struct {
        const char* text;
        std::optional<int> value;
    } cases[] = {
        {"0", 0},
        {"-1", -1},
        {"+5", 5},
        {" 7 ", 7},
        {"0x40", 64},
        {"0X1f", 31},
        {"0x0000000040", 64},
        {"0xFFFFFFFF", -1},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"0x", std::nullopt},
        {"0xg", std::nullopt},
        {"0x100000000", std::nullopt},
        {"2147483648", std::nullopt},
        {"12abc", std::nullopt},
        {"1.5", std::nullopt},
        {"", std::nullopt},
        {"--1", std::nullopt},
        {"+-1", std::nullopt},
        {"+", std::nullopt},
        {"-", std::nullopt},
        {"0x-1", std::nullopt},
        {"1 2", std::nullopt},
        {"$40", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IniFile::ParseInteger(c.text), c.value) << '"' << c.text << '"';
    }
}

TEST(IniValueForms, Floats)
{
    const struct {
        const char* text;
        std::optional<double> value;
    } cases[] = {
        {"0.75", 0.75},
        {"2.5", 2.5},
        {"-0.5", -0.5},
        {"+2", 2.0},
        {"1e3", 1000.0},
        {" 1.0 ", 1.0},
        {".5", 0.5},
        {"1,5", std::nullopt},
        {"", std::nullopt},
        {"abc", std::nullopt},
        {"inf", std::nullopt},
        {"nan", std::nullopt},
        {"1e999", std::nullopt},
        {"0x10", std::nullopt},
        {"1.5s", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IniFile::ParseFloat(c.text), c.value) << '"' << c.text << '"';
    }
}

TEST(IniValueForms, FloatTextReadsBackExactly)
{
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> uniform(-1e6, 1e6);
    for (int i = 0; i < 1000; ++i) {
        const double value = i % 2 ? uniform(random) : uniform(random) * 1e-9;
        const std::string text = IniFile::FormatFloat(value);
        EXPECT_EQ(text.find(','), std::string::npos);
        EXPECT_EQ(IniFile::ParseFloat(text), value) << text;
    }
    EXPECT_EQ(IniFile::FormatFloat(0.75), "0.75");
    EXPECT_EQ(IniFile::FormatFloat(-1.0), "-1");
}

// The file written by hand for these tests.
class IniFileOnDisk : public testing::Test {
protected:
    TestDirectory dir;
    std::string path = dir.File("Ksn48_Vevu.ini");
};

TEST_F(IniFileOnDisk, ReadsValueFormsWithDefaults)
{
    WriteBytes(path, Cp("[Раздел]\r\nЦелое=0x40\r\nЛожь=0\r\nИстина=2\r\nНечисло=12abc\r\n"
                        "Дробь=2.5\r\nЗапятая=2,5\r\nПусто=\r\nТекст=  слово  \r\n"));
    const IniFile file(path);
    const std::string s = "раздел";
    EXPECT_EQ(file.ReadInteger(s, "целое", -1), 64);
    EXPECT_EQ(file.ReadInteger(s, "нечисло", 9), 9);
    EXPECT_EQ(file.ReadInteger(s, "нет", -1), -1);
    EXPECT_FALSE(file.ReadBool(s, "ложь", true));
    EXPECT_TRUE(file.ReadBool(s, "истина", false));
    EXPECT_TRUE(file.ReadBool(s, "нечисло", true));
    EXPECT_FALSE(file.ReadBool(s, "нечисло", false));
    EXPECT_DOUBLE_EQ(file.ReadFloat(s, "дробь", 1.0), 2.5);
    EXPECT_DOUBLE_EQ(file.ReadFloat(s, "запятая", 1.0), 1.0);
    EXPECT_DOUBLE_EQ(file.ReadFloat(s, "пусто", 1.0), 1.0);
    EXPECT_EQ(file.ReadString(s, "пусто", "x"), "");
    EXPECT_EQ(file.ReadString(s, "текст", "x"), "слово");
    EXPECT_EQ(file.ReadString(s, "нет", "умолчание"), "умолчание");
    EXPECT_TRUE(file.SectionExists("РАЗДЕЛ"));
    EXPECT_FALSE(file.ValueExists(s, "нет"));
}

TEST_F(IniFileOnDisk, StringsAreCutAt2047Characters)
{
    std::string cyrillic;
    for (int i = 0; i < 3000; ++i) {
        cyrillic += "ж";
    }
    WriteBytes(path, "[s]\r\nk=" + Cp(cyrillic) + "\r\n");
    const IniFile file(path);
    const std::string read = file.ReadString("s", "k", "");
    EXPECT_EQ(read.size(), 2047u * 2);  // two UTF-8 bytes per letter
    EXPECT_EQ(read, cyrillic.substr(0, 2047 * 2));
}

TEST_F(IniFileOnDisk, MissingFileIsCreatedOnUpdate)
{
    IniFile file(path);
    EXPECT_FALSE(file.SectionExists("s"));
    file.WriteInteger("Раздел", "Ключ", -1);
    file.WriteBool("Раздел", "Флаг", true);
    file.WriteFloat("Раздел", "Время", 0.75);
    file.WriteString("Раздел", "Текст", "KSN5-0107");
    EXPECT_EQ(file.ReadInteger("раздел", "ключ", 0), -1) << "reads see unsaved writes";
    EXPECT_EQ(access(path.c_str(), F_OK), -1) << "nothing on disk before the update";
    file.UpdateFile();
    EXPECT_EQ(ReadBytes(path),
              Cp("[Раздел]\r\nКлюч=-1\r\nФлаг=1\r\nВремя=0.75\r\nТекст=KSN5-0107\r\n"));
    EXPECT_EQ(dir.Listing(), "Ksn48_Vevu.ini\n") << "no temporary file left";
}

TEST_F(IniFileOnDisk, UpdateThatChangesNothingLeavesTheFileAlone)
{
    WriteBytes(path, "[s]\r\nk=1\r\n");
    struct stat before {};
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    IniFile file(path);
    file.WriteInteger("s", "k", 1);
    file.UpdateFile();
    struct stat after {};
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
}

TEST_F(IniFileOnDisk, UpdateAppliesWritesToTheFileAsItIsNow)
{
    WriteBytes(path, "[s]\r\nk=1\r\n");
    IniFile file(path);
    WriteBytes(path, "[s]\r\nk=1\r\nother=5\r\n");  // changed by someone else meanwhile
    file.WriteInteger("s", "k", 2);
    file.UpdateFile();
    EXPECT_EQ(ReadBytes(path), "[s]\r\nk=2\r\nother=5\r\n");
    EXPECT_EQ(file.ReadInteger("s", "other", 0), 5);
}

TEST_F(IniFileOnDisk, ReplacementKeepsModeAndFollowsSymbolicLinks)
{
    const std::string real = dir.File("real.ini");
    WriteBytes(real, "[s]\r\nk=1\r\n");
    ASSERT_EQ(chmod(real.c_str(), 0640), 0);
    ASSERT_EQ(symlink("real.ini", path.c_str()), 0);
    IniFile file(path);
    file.WriteInteger("s", "k", 2);
    file.UpdateFile();
    struct stat link {};
    ASSERT_EQ(lstat(path.c_str(), &link), 0);
    EXPECT_TRUE(S_ISLNK(link.st_mode));
    struct stat target {};
    ASSERT_EQ(stat(real.c_str(), &target), 0);
    EXPECT_EQ(target.st_mode & 07777, 0640u);
    EXPECT_EQ(ReadBytes(real), "[s]\r\nk=2\r\n");
}

// Things other than a settings file at a path, made by the tests below.
struct OddObject {
    const char* name;
    void (*make)(const std::string&);
    const char* reason;
};

const OddObject OddObjects[] = {
    {"folder", [](const std::string& p) { ASSERT_EQ(mkdir(p.c_str(), 0755), 0); },
     "это папка, а не файл"},
    {"pipe", [](const std::string& p) { ASSERT_EQ(mkfifo(p.c_str(), 0644), 0); },
     "это именованный канал, а не файл"},
    {"huge",
     [](const std::string& p) { ASSERT_EQ(truncate((WriteBytes(p, ""), p).c_str(), 65 << 20), 0); },
     "файл больше 64 МБ"},
    {"loop", [](const std::string& p) { ASSERT_EQ(symlink(p.c_str(), p.c_str()), 0); },
     "символические ссылки замкнуты в круг"},
};

TEST_F(IniFileOnDisk, UnreadablePathRaisesErrorNamingIt)
{
    for (const auto& c : OddObjects) {
        const std::string name = dir.File(c.name);
        c.make(name);
        try {
            IniFile file(name);
            ADD_FAILURE() << c.name << " was read as a settings file";
        } catch (const IniFileError& e) {
            EXPECT_EQ(e.FileName(), name);
            EXPECT_NE(std::string(e.what()).find(name), std::string::npos);
            EXPECT_EQ(e.Reason(), c.reason) << c.name;
            EXPECT_EQ(e.what(), "Не могу прочитать файл '" + name + "': " + c.reason);
        }
    }
}

// An object that appears where the file was: the update says it cannot write
// there, naming the file and why, and leaves the object as it is. A pipe must
// not block it.
TEST_F(IniFileOnDisk, UpdateRefusesWhatIsNotAFileAndLeavesIt)
{
    for (const auto& c : OddObjects) {
        const std::string name = dir.File(c.name);
        IniFile file(name);
        c.make(name);
        const std::string before = Describe(name);
        file.WriteInteger("s", "k", 1);
        try {
            file.UpdateFile();
            ADD_FAILURE() << c.name << " was written";
        } catch (const IniFileError& e) {
            EXPECT_EQ(e.FileName(), name);
            EXPECT_EQ(e.what(), "Не могу записать файл '" + name + "': " + c.reason);
        }
        EXPECT_EQ(Describe(name), before) << c.name;
    }
    EXPECT_EQ(dir.Listing(), "folder\nhuge\nloop\npipe\n") << "no temporary file left";
}

TEST_F(IniFileOnDisk, InspectTellsWhatIsAtThePath)
{
    using Kind = IniPathState::Kind;
    WriteBytes(dir.File("real.ini"), "[s]\r\nk=1\r\n");
    ASSERT_EQ(mkdir(dir.File("sub").c_str(), 0755), 0);
    ASSERT_EQ(symlink("real.ini", dir.File("to-file").c_str()), 0);
    ASSERT_EQ(symlink("to-file", dir.File("to-link").c_str()), 0);
    ASSERT_EQ(symlink("sub/new.ini", dir.File("dangling").c_str()), 0);
    ASSERT_EQ(symlink((dir.Path() + "/sub").c_str(), dir.File("to-folder").c_str()), 0);
    ASSERT_EQ(symlink("a", dir.File("b").c_str()), 0);
    ASSERT_EQ(symlink("b", dir.File("a").c_str()), 0);
    const struct {
        std::string path;
        Kind kind;
        std::string target;
        bool viaLink;
        std::string reason;
    } cases[] = {
        {dir.File("none.ini"), Kind::Missing, dir.File("none.ini"), false, ""},
        {dir.File("real.ini"), Kind::File, dir.File("real.ini"), false, ""},
        {dir.File("to-link"), Kind::File, dir.File("real.ini"), true, ""},
        {dir.File("dangling"), Kind::Missing, dir.File("sub/new.ini"), true, ""},
        {dir.File("sub"), Kind::Unusable, dir.File("sub"), false, "это папка, а не файл"},
        {dir.File("to-folder"), Kind::Unusable, dir.File("sub"), true, "это папка, а не файл"},
        {dir.File("a"), Kind::Unusable, "", true, "символические ссылки замкнуты в круг"},
        {"/dev/null", Kind::Unusable, "/dev/null", false, "это устройство, а не файл"},
    };
    for (const auto& c : cases) {
        const IniPathState state = IniFile::Inspect(c.path);
        EXPECT_EQ(state.State, c.kind) << c.path;
        if (!c.target.empty()) {
            EXPECT_EQ(state.Target, c.target) << c.path;
        }
        EXPECT_EQ(state.ViaLink, c.viaLink) << c.path;
        EXPECT_EQ(state.Reason, c.reason) << c.path;
    }
}

// A link that leads nowhere yet: the file is made where it leads, and the
// link stays a link.
TEST_F(IniFileOnDisk, DanglingLinkGetsItsTargetCreated)
{
    ASSERT_EQ(mkdir(dir.File("sub").c_str(), 0755), 0);
    ASSERT_EQ(symlink("sub/step.ini", path.c_str()), 0);
    ASSERT_EQ(symlink("real.ini", dir.File("sub/step.ini").c_str()), 0);
    IniFile file(path);
    file.WriteInteger("s", "k", 2);
    file.UpdateFile();
    EXPECT_EQ(ReadBytes(dir.File("sub/real.ini")), "[s]\r\nk=2\r\n");
    struct stat link {};
    ASSERT_EQ(lstat(path.c_str(), &link), 0);
    EXPECT_TRUE(S_ISLNK(link.st_mode));
    ASSERT_EQ(lstat(dir.File("sub/step.ini").c_str(), &link), 0);
    EXPECT_TRUE(S_ISLNK(link.st_mode));
    EXPECT_EQ(dir.Listing(), "Ksn48_Vevu.ini\nsub\n");
}

TEST_F(IniFileOnDisk, DetachedObjectNeverTouchesTheDisk)
{
    IniFile file = IniFile::Detached(path);
    EXPECT_EQ(file.FileName(), path);
    file.WriteInteger("s", "k", 3);
    file.UpdateFile();
    EXPECT_EQ(file.ReadInteger("s", "k", 0), 3);
    EXPECT_EQ(dir.Listing(), "");
}

TEST(IniFileReasons, SystemErrorsInTheOperatorsLanguage)
{
    const struct {
        int error;
        const char* text;
    } cases[] = {
        {EACCES, "нет прав доступа"},
        {EPERM, "действие не разрешено"},
        {EROFS, "файловая система только для чтения"},
        {ENOSPC, "на диске нет места"},
        {EDQUOT, "исчерпана дисковая квота"},
        {EISDIR, "это папка, а не файл"},
        {ENOENT, "нет такого файла или папки"},
        {ENAMETOOLONG, "слишком длинное имя файла"},
        {EIO, "ошибка ввода-вывода"},
        {EFBIG, "файл слишком велик"},
        {ELOOP, "символические ссылки замкнуты в круг"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IniFile::ReasonText(c.error), c.text) << c.error;
    }
    // The rest: the number, and the system's own words for whoever looks into it.
    EXPECT_EQ(IniFile::ReasonText(EBUSY),
              "системная ошибка " + std::to_string(EBUSY) + " (" + std::strerror(EBUSY) + ")");
}

TEST_F(IniFileOnDisk, Utf16FileIsReadButNeverRewritten)
{
    const std::string utf16 = Binary("\xFF\xFE[\0s\0]\0\r\0\n\0k\0=\0\x31\0");
    WriteBytes(path, utf16);
    IniFile file(path);
    file.WriteInteger("s", "k", 2);
    EXPECT_THROW(file.UpdateFile(), IniFileError);
    EXPECT_EQ(ReadBytes(path), utf16);
}

// Inputs the reader must survive, each checked for an answer, not only for
// not crashing.
TEST(IniRobustness, GarbageNulAndByteOrderMarksReadBackUnchanged)
{
    std::mt19937 random(1);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 200; ++round) {
        std::string garbage(static_cast<std::size_t>(round * 37 % 4096), '\0');
        for (char& c : garbage) {
            c = static_cast<char>(byte(random));
        }
        if (round % 3 == 0) {
            garbage.insert(0, "\xEF\xBB\xBF");
        }
        IniDocument document(garbage);
        EXPECT_EQ(document.Bytes(), garbage);
        document.SetValue("s", "k", "v");
        EXPECT_EQ(IniDocument(document.Bytes()).Value("s", "k"), "v");
    }
}

TEST(IniRobustness, TenMegabyteLine)
{
    const std::string huge(10 * 1024 * 1024, 'x');
    const std::string text = "[s]\r\nk=" + huge + "\r\nj=2\r\n" + huge;
    IniDocument document(text);
    EXPECT_EQ(document.Value("s", "j"), "2");
    EXPECT_EQ(document.Value("s", "k")->size(), huge.size());
    document.SetValue("s", "j", "3");
    const std::string bytes = document.Bytes();
    EXPECT_EQ(bytes.size(), text.size());
    EXPECT_EQ(bytes.compare(0, 5 + 2 + huge.size(), text, 0, 5 + 2 + huge.size()), 0);
}

TEST(IniRobustness, HundredThousandKeys)
{
    std::string text = "[s]\r\n";
    for (int i = 0; i < 100000; ++i) {
        text += "key" + std::to_string(i) + "=" + std::to_string(i) + "\r\n";
    }
    IniDocument document(text);
    EXPECT_EQ(document.Value("s", "KEY0"), "0");
    EXPECT_EQ(document.Value("s", "key99999"), "99999");
    for (int i = 0; i < 20; ++i) {
        document.SetValue("s", "new" + std::to_string(i), "x");
    }
    document.SetValue("s", "key50000", "changed");
    const std::string bytes = document.Bytes();
    EXPECT_EQ(document.Value("s", "key50000"), "changed");
    EXPECT_EQ(bytes.compare(0, text.find("key50000"), text, 0, text.find("key50000")), 0);
}

// Refused writes: the file stays as it was and the error names it.
class IniRefusedWrite : public IniFileOnDisk {
protected:
    const std::string original = "; keep\r\n[s]\r\nk=1\r\n";

    void ExpectRefused(IniFile& file, const std::string& shownPath, const std::string& reason)
    {
        file.WriteString("s", "k", std::string(64 * 1024, 'z'));
        try {
            file.UpdateFile();
            FAIL() << "the write was not refused";
        } catch (const IniFileError& e) {
            EXPECT_EQ(e.FileName(), shownPath);
            EXPECT_NE(std::string(e.what()).find(shownPath), std::string::npos) << e.what();
            EXPECT_EQ(e.what(), "Не могу записать файл '" + shownPath + "': " + reason);
        }
        EXPECT_EQ(ReadBytes(shownPath), original);
        EXPECT_EQ(file.ReadString("s", "k", ""), "1") << "the object shows the file as it is";
    }
};

TEST_F(IniRefusedWrite, ReadOnlyFile)
{
    WriteBytes(path, original);
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    IniFile file(path);
    ExpectRefused(file, path, "файл только для чтения");
    EXPECT_EQ(dir.Listing(), "Ksn48_Vevu.ini\n");
}

TEST_F(IniRefusedWrite, ReadOnlyFolder)
{
    if (!dir.MountTmpfs(256)) {
        GTEST_SKIP() << "this process may not mount a file system";
    }
    WriteBytes(path, original);
    ASSERT_TRUE(dir.RemountReadOnly());
    IniFile file(path);
    ExpectRefused(file, path, "файловая система только для чтения");
}

TEST_F(IniRefusedWrite, FullFileSystem)
{
    if (!dir.MountTmpfs(64)) {
        GTEST_SKIP() << "this process may not mount a file system (see FileSizeLimit)";
    }
    WriteBytes(path, original);
    // Fill the rest of the file system.
    const std::string filler = dir.File("filler");
    {
        FILE* out = std::fopen(filler.c_str(), "wb");
        ASSERT_NE(out, nullptr);
        const std::string block(4096, 'f');
        while (std::fwrite(block.data(), 1, block.size(), out) == block.size() &&
               std::fflush(out) == 0) {
        }
        std::fclose(out);
    }
    IniFile file(path);
    ExpectRefused(file, path, "на диске нет места");
    EXPECT_EQ(dir.Listing(), "Ksn48_Vevu.ini\nfiller\n") << "no temporary file left";
}

TEST_F(IniRefusedWrite, FileSizeLimit)
{
    WriteBytes(path, original);
    IniFile file(path);
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = old;
    limited.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    ExpectRefused(file, path, "файл слишком велик");
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(dir.Listing(), "Ksn48_Vevu.ini\n");
}

}  // namespace
