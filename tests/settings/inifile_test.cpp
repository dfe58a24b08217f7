#include "settings/inifile.h"

#include "support/testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <climits>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>

namespace marlix {
namespace {

using test::ReadText;
using test::TempDir;
using test::WriteText;

TIniFile FromText(const TempDir& dir, const std::string& text)
{
    WriteText(dir.File("t.ini"), text);
    return TIniFile(dir.File("t.ini"));
}

// A missing file, or a folder standing where the file should be, reads as empty and
// fails to save; neither ends the program.
TEST(IniFileTest, MissingOrUnreadableFileIsEmpty)
{
    TempDir dir;
    std::filesystem::create_directory(dir.File("folder.ini"));
    for (const char* name : {"none.ini", "folder.ini"}) {
        TIniFile ini(dir.File(name));
        EXPECT_TRUE(ini.ReadSections().empty()) << name;
        EXPECT_EQ(ini.ReadString("A", "b", "def"), "def") << name;
        EXPECT_EQ(ini.Text(), "") << name;
        std::vector<uint8_t> bytes{1};
        EXPECT_FALSE(ReadFileBytes(dir.File(name), bytes)) << name;
        EXPECT_TRUE(bytes.empty()) << name;
    }
    TIniFile folder(dir.File("folder.ini"));
    ASSERT_TRUE(folder.WriteString("A", "b", "c"));
    EXPECT_FALSE(folder.UpdateFile());
}

TEST(IniFileTest, NamesMatchCaseInsensitivelyAndKeepTheirOrder)
{
    TempDir dir;
    TIniFile ini = FromText(dir,
                            "[Zeta]\nb=1\nA=2\n"
                            "[alpha]\nKey=first\nkey=second\n"
                            "[ZETA]\nc=3\n");
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"Zeta", "alpha"}));
    EXPECT_EQ(ini.ReadSection("zeta"), (std::vector<std::string>{"b", "A"}));
    EXPECT_EQ(ini.ReadSection("ALPHA"), (std::vector<std::string>{"Key"}));
    EXPECT_EQ(ini.ReadString("ALPHA", "KEY", ""), "first");
    EXPECT_EQ(ini.ReadInteger("zeta", "a", 0), 2);
    EXPECT_TRUE(ini.SectionExists("zEtA"));
    EXPECT_FALSE(ini.SectionExists("beta"));
    EXPECT_TRUE(ini.ValueExists("Alpha", "kEy"));
    EXPECT_FALSE(ini.ValueExists("Alpha", "c"));
    // The first of two sections of one name is the one that counts.
    EXPECT_FALSE(ini.ValueExists("Zeta", "c"));
}

TEST(IniFileTest, BlanksCommentsAndOddLines)
{
    TempDir dir;
    TIniFile ini = FromText(dir,
                            "orphan=1\n"
                            "  [ Sec ]  \n"
                            "; k=commented\n"
                            "# h=hashed\n"
                            "  key  =  spaced value  \n"
                            "no equals sign\n"
                            "=nokey\n"
                            "q=\"  kept  \"\n"
                            "e=\n");
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"Sec"}));
    EXPECT_EQ(ini.ReadSection("Sec"), (std::vector<std::string>{"key", "q", "e"}));
    EXPECT_EQ(ini.ReadString("Sec", "key", ""), "spaced value");
    EXPECT_EQ(ini.ReadString("Sec", "q", ""), "  kept  ");
    EXPECT_EQ(ini.ReadString("Sec", "e", "def"), "");
    EXPECT_FALSE(ini.ValueExists("Sec", "k"));
}

TEST(IniFileTest, IntegerBooleanAndFloatParsing)
{
    TempDir dir;
    TIniFile ini = FromText(dir,
                            "[N]\n"
                            "dec=12\nblank= 12 \nneg=-5\nplus=+7\nhex=0x1F\nhex2=0XfF\nnhex=-0x10\nffff=0xFFFFFFFF\n"
                            "frac=1.5\nempty=\ntail=12abc\nbare=0x\nbig=2147483648\nmin=-2147483648\n"
                            "bignhex=0x100000000\nspace=1 2\n"
                            "f1=1.5\nf2=1e-05\nf3= -2.25 \nfcomma=1,5\nfnan=nan\nfinf=inf\nftext=abc\nfhex=0x10\n"
                            "yes=yes\ntwo=2\nzero=0\n");
    const int def = 4711;
    EXPECT_EQ(ini.ReadInteger("N", "dec", def), 12);
    EXPECT_EQ(ini.ReadInteger("N", "blank", def), 12);
    EXPECT_EQ(ini.ReadInteger("N", "neg", def), -5);
    EXPECT_EQ(ini.ReadInteger("N", "plus", def), 7);
    EXPECT_EQ(ini.ReadInteger("N", "hex", def), 31);
    EXPECT_EQ(ini.ReadInteger("N", "hex2", def), 255);
    EXPECT_EQ(ini.ReadInteger("N", "nhex", def), -16);
    EXPECT_EQ(ini.ReadInteger("N", "ffff", def), -1);
    EXPECT_EQ(ini.ReadInteger("N", "min", def), INT_MIN);
    for (const char* bad : {"frac", "empty", "tail", "bare", "big", "bignhex", "space", "missing"})
        EXPECT_EQ(ini.ReadInteger("N", bad, def), def) << bad;

    EXPECT_TRUE(ini.ReadBool("N", "two", false));
    EXPECT_TRUE(ini.ReadBool("N", "neg", false));
    EXPECT_FALSE(ini.ReadBool("N", "zero", true));
    EXPECT_TRUE(ini.ReadBool("N", "yes", true));
    EXPECT_FALSE(ini.ReadBool("N", "yes", false));
    EXPECT_FALSE(ini.ReadBool("N", "frac", false));

    EXPECT_EQ(ini.ReadFloat("N", "f1", 9), 1.5);
    EXPECT_EQ(ini.ReadFloat("N", "f2", 9), 1e-05);
    EXPECT_EQ(ini.ReadFloat("N", "f3", 9), -2.25);
    EXPECT_EQ(ini.ReadFloat("N", "dec", 9), 12.0);
    for (const char* bad : {"fcomma", "fnan", "finf", "ftext", "fhex", "empty", "missing"})
        EXPECT_EQ(ini.ReadFloat("N", bad, 9), 9) << bad;
}

TEST(IniFileTest, RewriteKeepsEveryOtherLine)
{
    TempDir dir;
    TIniFile ini = FromText(dir,
                            "; settings\n"
                            "\n"
                            "[A]\n"
                            "x = 1\n"
                            "; about y\n"
                            "y=2\n"
                            "\n"
                            "; the next section\n"
                            "[B]\n"
                            "z=3");
    ini.WriteInteger("A", "X", 10);
    ini.WriteString("a", "new", "v");
    ini.WriteString("C", "k", "c");
    ini.WriteInteger("b", "w", 4);
    EXPECT_EQ(ini.Text(),
              "; settings\n"
              "\n"
              "[A]\n"
              "x =10\n"
              "; about y\n"
              "y=2\n"
              "new=v\n"
              "\n"
              "; the next section\n"
              "[B]\n"
              "z=3\n"
              "w=4\n"
              "\n"
              "[C]\n"
              "k=c\n");
    ASSERT_TRUE(ini.UpdateFile());
    EXPECT_EQ(ReadText(dir.File("t.ini")), ini.Text());
}

TEST(IniFileTest, EraseSectionAndDeleteKey)
{
    TempDir dir;
    TIniFile ini = FromText(dir, "[A]\na=1\n[b]\n; inside b\nk=1\nK=2\nm=3\n[A]\nc=2\n[C]\nc=3\n");
    ini.DeleteKey("B", "k");
    EXPECT_FALSE(ini.ValueExists("b", "K"));
    EXPECT_EQ(ini.ReadSection("b"), (std::vector<std::string>{"m"}));
    ini.EraseSection("a");
    EXPECT_FALSE(ini.SectionExists("A"));
    EXPECT_EQ(ini.Text(), "[b]\n; inside b\nm=3\n[C]\nc=3\n");
    ini.EraseSection("nothing");
    ini.DeleteKey("nothing", "x");
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"b", "C"}));
}

TEST(IniFileTest, Utf8BomAndCrlf)
{
    TempDir dir;
    TIniFile ini = FromText(dir, "\xEF\xBB\xBF[音楽]\r\nフォルダ=/home/ü/音楽/\r\nn=5\r\n");
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"音楽"}));
    EXPECT_EQ(ini.ReadString("音楽", "フォルダ", ""), "/home/ü/音楽/");
    EXPECT_EQ(ini.ReadInteger("音楽", "n", 0), 5);
    ini.WriteString("音楽", "名前", "ベートーヴェン");
    EXPECT_EQ(ini.Text(), "\xEF\xBB\xBF[音楽]\r\nフォルダ=/home/ü/音楽/\r\nn=5\r\n名前=ベートーヴェン\r\n");
}

TEST(IniFileTest, ValuesRoundTripThroughTheFile)
{
    TempDir dir;
    const std::vector<std::string> values = {"", " lead", "trail ", "  both  ", "\"quoted\"", "\"", "a\"b\"",
                                             "x=y=z", "; not a comment", "[not a section]", "tab\tin", "日本語"};
    // Appended rather than "k" + ...: g++ 12 at -O3 warns falsely about the prepending insert.
    const auto key = [](size_t i) { return std::string("k").append(std::to_string(i)); };
    {
        TIniFile ini(dir.File("v.ini"));
        for (size_t i = 0; i < values.size(); ++i)
            ASSERT_TRUE(ini.WriteString("V", key(i), values[i]));
        ASSERT_TRUE(ini.UpdateFile());
    }
    TIniFile ini(dir.File("v.ini"));
    for (size_t i = 0; i < values.size(); ++i)
        EXPECT_EQ(ini.ReadString("V", key(i), "?"), values[i]) << i;
}

TEST(IniFileTest, RefusesWhatALineCannotHold)
{
    TempDir dir;
    TIniFile ini(dir.File("r.ini"));
    EXPECT_FALSE(ini.WriteString("S", "k", "two\nlines"));
    EXPECT_FALSE(ini.WriteString("S", "k", "cr\r"));
    EXPECT_FALSE(ini.WriteString("S", "a=b", "v"));
    EXPECT_FALSE(ini.WriteString("S", "  ", "v"));
    EXPECT_FALSE(ini.WriteString("S", "[x]", "v"));
    EXPECT_FALSE(ini.WriteString("S", ";c", "v"));
    EXPECT_FALSE(ini.WriteString("S]", "k", "v"));
    EXPECT_FALSE(ini.WriteString("S\n[T", "k", "v"));
    EXPECT_EQ(ini.Text(), "");
}

// The same text made by the C library in the "C" locale.
std::string PrintfG15(double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", v);
    return buf;
}

// Digits of a "%g" text from its first to its last non-zero digit.
int Digits(const std::string& text)
{
    const std::string mantissa = text.substr(0, text.find('e'));
    const auto first = mantissa.find_first_of("123456789");
    const auto last = mantissa.find_last_of("123456789");
    if (first == std::string::npos)
        return 0;
    const auto points = std::count(mantissa.begin() + static_cast<long>(first), mantissa.begin() + static_cast<long>(last), '.');
    return static_cast<int>(last - first + 1 - static_cast<size_t>(points));
}

TEST(IniFileTest, FloatsUseTheShortestGeneralForm)
{
    EXPECT_EQ(FormatFloat(0.1), "0.1");
    EXPECT_EQ(FormatFloat(1e-05), "1e-05");
    EXPECT_EQ(FormatFloat(0.0001), "0.0001");
    EXPECT_EQ(FormatFloat(100), "100");
    EXPECT_EQ(FormatFloat(-0.5), "-0.5");
    EXPECT_EQ(FormatFloat(0), "0");
    EXPECT_EQ(FormatFloat(1e20), "1e+20");
    EXPECT_EQ(FormatFloat(123456789012345.0), "123456789012345");
    EXPECT_EQ(FormatFloat(1e15), "1e+15");
    EXPECT_EQ(FormatFloat(1.0 / 3), "0.333333333333333");
    EXPECT_EQ(FormatFloat(0.1 + 0.2), "0.3");

    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> mantissa(-10, 10);
    std::uniform_int_distribution<int> exponent(-30, 30);
    std::uniform_int_distribution<int> digits(1, 15);
    for (int i = 0; i < 2000; ++i) {
        // A value of few digits, as users type them: written with no more digits than
        // typed, and read back exactly.
        char buf[64];
        const int typedDigits = digits(rng);
        std::snprintf(buf, sizeof buf, "%.*e", typedDigits - 1, mantissa(rng) * std::pow(10.0, exponent(rng)));
        const double typed = std::strtod(buf, nullptr);
        const std::string text = FormatFloat(typed);
        EXPECT_EQ(text, PrintfG15(typed));
        EXPECT_LE(Digits(text), typedDigits) << buf << " -> " << text;
        double back = 0;
        ASSERT_TRUE(ParseFloat(text, back));
        EXPECT_EQ(back, typed) << buf;
        const double any = mantissa(rng) * std::pow(10.0, exponent(rng));
        EXPECT_EQ(FormatFloat(any), PrintfG15(any));
    }
}

TEST(IniFileTest, FloatsIgnoreTheProcessLocale)
{
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    const char* used = nullptr;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "ru_RU.UTF-8", "nl_NL.UTF-8"})
        if ((used = std::setlocale(LC_NUMERIC, name)))
            break;
    char probe[16];
    std::snprintf(probe, sizeof probe, "%g", 1.5);
    if (!used || std::string(probe) != "1,5") {
        std::setlocale(LC_NUMERIC, saved.c_str());
        GTEST_SKIP() << "no locale with a decimal comma is installed";
    }
    TempDir dir;
    TIniFile ini(dir.File("l.ini"));
    ini.WriteFloat("L", "f", 1.5);
    ini.WriteFloat("L", "g", 1e-05);
    const std::string text = ini.Text();
    const double f = ini.ReadFloat("L", "f", 0);
    const double g = ini.ReadFloat("L", "g", 0);
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(text, "[L]\nf=1.5\ng=1e-05\n");
    EXPECT_EQ(f, 1.5);
    EXPECT_EQ(g, 1e-05);
}

TEST(IniFileTest, SaveReplacesTheFileAndKeepsItsMode)
{
    TempDir dir;
    const std::string path = dir.File("s.ini");
    WriteText(path, "[A]\nx=1\n");
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    TIniFile ini(path);
    ini.WriteInteger("A", "x", 2);
    ASSERT_TRUE(ini.UpdateFile());
    EXPECT_EQ(ReadText(path), "[A]\nx=2\n");
    struct stat st{};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

TEST(IniFileTest, FailedSaveLeavesTheOldFile)
{
    TempDir dir;
    const std::string path = dir.File("s.ini");
    const std::string old = "[A]\nx=1\n";
    WriteText(path, old);
    TIniFile ini(path);
    for (int i = 0; i < 200; ++i)
        ini.WriteInteger("A", "key" + std::to_string(i), i);

    // A file size limit makes the write fail part way, whatever the user's rights.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool ok = ini.UpdateFile();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(ok);
    EXPECT_EQ(ReadText(path), old);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1) << "temporary file left";

    TIniFile nowhere(dir.File("missing/folder/s.ini"));
    nowhere.WriteInteger("A", "x", 1);
    EXPECT_FALSE(nowhere.UpdateFile());
}

} // namespace
} // namespace marlix
