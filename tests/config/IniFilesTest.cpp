#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <functional>

#include "config/IniDocument.h"
#include "config/IniFiles.h"
#include "config/PasswordScrambler.h"
#include "support/TestSupport.h"

using testsupport::chmodOf;
using testsupport::readAll;
using testsupport::statOf;
using testsupport::writeAll;

namespace {

class IniFiles : public ::testing::Test {
  protected:
    QString file(const QString& name = "t.ini") const { return dir_.filePath(name); }
    QString withContent(const QByteArray& bytes) const {
        const QString path = file();
        EXPECT_TRUE(writeAll(path, bytes));
        return path;
    }
    QTemporaryDir dir_;
};

struct ReadCase {
    const char* what;
    QByteArray content;  // empty: no file at all
    QString section, key, def, expected;
};

enum class Op { Write, DeleteKey, DeleteSection };

struct WriteCase {
    const char* what;
    QByteArray before;  // empty: no file
    Op op;
    QString section, key, value;
    int result;
    QByteArray after;
};

// The checks run in a child process as "nobody" when the tests run as root (permissions do not
// bind root); true when `check` held there.
bool heldUnprivileged(const std::function<bool()>& check) {
    return testsupport::forkUnprivileged([&] { return check() ? 0 : 1; }) == 0;
}

}  // namespace

TEST_F(IniFiles, ReadsWithPrivateProfileRules) {
    const QString def = "def";
    const ReadCase cases[] = {
        {"case, blanks and trimmed arguments", "[ Sec ]\r\n  Key  =  Value  \r\n", " sec ", "KEY\t",
         def, "Value"},
        {"double quotes stripped", "[S]\r\nk=\"a b\"\r\n", "S", "k", def, "a b"},
        {"lone quote kept", "[S]\r\nk=\"\r\n", "S", "k", def, "\""},
        {"mixed quotes kept", "[S]\r\nk='x\"\r\n", "S", "k", def, "'x\""},
        {"only outer pair", "[S]\r\nk=\"a\" b \"c\"\r\n", "S", "k", def, "a\" b \"c"},
        {"comment never matches", "[S]\r\n  ; k=1\r\n", "S", "; k", def, def},
        {"hash is no comment", "[S]\r\n#k=1\r\n", "S", "#k", def, "1"},
        {"no equals hides later line", "[S]\r\nflag\r\nflag=1\r\n", "S", "flag", def, def},
        {"empty value is not the default", "[S]\r\nk=\r\n", "S", "k", def, ""},
        {"first duplicate key", "[S]\r\nk=1\r\nk=2\r\n", "S", "k", def, "1"},
        {"only first duplicate section", "[S]\r\na=1\r\n[T]\r\n[S]\r\nb=2\r\n", "S", "b", def, def},
        {"split at first equals", "[S]\r\nk=a=b\r\n", "S", "k", def, "a=b"},
        {"name runs to last bracket", "[a]b] trailing\r\nk=v\r\n", "a]b", "k", def, "v"},
        {"key after broken header", "[S]\r\n[T\r\nk=v\r\n", "S", "k", def, "v"},
        {"CR only", "[S]\rk=v\r", "S", "k", def, "v"},
        {"LF only, no final end", "[S]\nk=v", "S", "k", def, "v"},
        {"inner blanks, no comments", "[S]\r\nk\t=\ta ;  b \t\r\n", "S", "k", def, "a ;  b"},
        {"keys before first header", "top=1\r\n[S]\r\n", "", "top", def, "1"},
        {"UTF-8 with BOM", "\xEF\xBB\xBF[S]\r\nk=caf\xC3\xA9\r\n", "S", "k", def, "caf\u00e9"},
        {"non-ASCII names ignore case", "[\xC3\x84rger]\r\n\xC3\xBC=1\r\n", "\u00e4RGER", "\u00dc",
         def, "1"},
        {"U+FEFF inside is a character", "[S]\r\n\xEF\xBB\xBFk=v\r\n", "S", "k", def, def},
        {"default loses trailing spaces", "", "S", "k", "def  ", "def"},
        {"default keeps trailing tab", "", "S", "k", "def\t", "def\t"},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.what);
        const QString path = file(QString::number(qHash(QString(c.what))) + ".ini");
        if (!c.content.isEmpty()) {
            ASSERT_TRUE(writeAll(path, c.content));
        }
        EXPECT_EQ(ReadIniValue(c.section, c.key, c.def, path), c.expected);
    }
}

TEST_F(IniFiles, ReadCutsValuesTo2047Characters) {
    const QString x2047(2047, 'x');
    EXPECT_EQ(ReadIniValue("S", "k", "", withContent("[S]\r\nk=" + QByteArray(3000, 'x'))), x2047);
    // Quotes come off before the cut.
    EXPECT_EQ(ReadIniValue("S", "k", "", withContent("[S]\r\nk=\"" + x2047.toUtf8() + "\"")),
              x2047);
    // A character outside the BMP is not cut in half.
    const QString split = QString(2046, 'x') + QString::fromUcs4(U"\U0001F600");
    EXPECT_EQ(ReadIniValue("S", "k", "", withContent("[S]\r\nk=" + split.toUtf8())),
              QString(2046, 'x'));
    EXPECT_EQ(ReadIniValue("S", "k", QString(2100, 'd'), file("none.ini")), QString(2047, 'd'));
}

TEST_F(IniFiles, ListsSectionsAndKeysInFileOrder) {
    const QString path = withContent(
        "top=0\r\n[B]\r\nk=1\r\nflag\r\n;c=1\r\nz=\r\nK=dup\r\n[a]\r\n[b]\r\nlate=1\r\n[]\r\n");
    EXPECT_EQ(ReadIniSectionNames(path), QStringList({"B", "a"}));
    EXPECT_EQ(ReadIniKeyNames("b", path), QStringList({"k", "z"}));
    EXPECT_EQ(ReadIniKeyNames("missing", path), QStringList());
    EXPECT_EQ(ReadIniSectionNames(file("none.ini")), QStringList());
    EXPECT_EQ(ReadIniFile(file("none.ini")).sectionNames(), QStringList());
}

TEST_F(IniFiles, WritesChangeOnlyTheLinesTheyMust) {
    const WriteCase cases[] = {
        {"new file", "", Op::Write, "App", "key", "v", 1, "[App]\r\nkey=v\r\n"},
        {"new section at end, last line gets an end", "[A]\r\nx=1", Op::Write, "B", "y", "2", 1,
         "[A]\r\nx=1\r\n[B]\r\ny=2\r\n"},
        {"new key after last key line", "[A]\r\nx=1\r\n\r\n; about B\r\n[B]\r\ny=2\r\n", Op::Write,
         "A", "z", "3", 1, "[A]\r\nx=1\r\nz=3\r\n\r\n; about B\r\n[B]\r\ny=2\r\n"},
        {"new key in empty section keeps header", "[A]\r\n; note\r\n\r\n[B]\r\n", Op::Write, "a",
         "k", "v", 1, "[A]\r\nk=v\r\n; note\r\n\r\n[B]\r\n"},
        {"existing key keeps spelling and spacing", "[A]\r\n  x = 1 \r\n", Op::Write, " A ", "X\t",
         "2", 1, "[A]\r\n  x = 2\r\n"},
        {"comments and odd lines kept", "; top\r\n[A]  junk\r\n; note = hi\r\n\tx=1\r\n", Op::Write,
         "A", "y", "2", 1, "; top\r\n[A]  junk\r\n; note = hi\r\n\tx=1\r\ny=2\r\n"},
        {"blanks at the ends kept in quotes", "[A]\r\n", Op::Write, "A", "k", "\t v ", 1,
         "[A]\r\nk=\"\t v \"\r\n"},
        {"quoted value gets a second pair", "[A]\r\nk=1\r\n", Op::Write, "A", "k", "'x'", 1,
         "[A]\r\nk=\"'x'\"\r\n"},
        {"value that reads the same stays as written", "[A]\r\nk = 'v' \r\n", Op::Write, "A", "k",
         "v", 1, "[A]\r\nk = 'v' \r\n"},
        {"first duplicate section", "[A]\r\na=1\r\n[B]\r\n[A]\r\nb=2\r\n", Op::Write, "A", "c", "3",
         1, "[A]\r\na=1\r\nc=3\r\n[B]\r\n[A]\r\nb=2\r\n"},
        {"first duplicate key", "[A]\r\nk=1\r\nk=2\r\n", Op::Write, "A", "K", "3", 1,
         "[A]\r\nk=3\r\nk=2\r\n"},
        {"line without equals gets a value", "[A]\r\n  flag  \r\nx=1\r\n", Op::Write, "A", "flag",
         "on", 1, "[A]\r\n  flag=on\r\nx=1\r\n"},
        {"LF file: written lines end CR LF", "[A]\nx=1\n[B]\n", Op::Write, "A", "y", "2", 1,
         "[A]\nx=1\ny=2\r\n[B]\n"},
        {"LF file: changed line keeps its end", "[A]\nx=1\n", Op::Write, "A", "x", "2", 1,
         "[A]\nx=2\n"},
        {"CR file", "[A]\rx=1\r", Op::Write, "B", "y", "2", 1, "[A]\rx=1\r[B]\r\ny=2\r\n"},
        {"BOM kept", "\xEF\xBB\xBF[A]\r\n", Op::Write, "A", "k", "\u00e9", 1,
         "\xEF\xBB\xBF[A]\r\nk=\xC3\xA9\r\n"},
        {"delete key", "[A]\r\nx=1\r\nk=2\r\n", Op::DeleteKey, "A", "K", "", 1, "[A]\r\nx=1\r\n"},
        {"delete first section up to next header", "[A]\r\nx=1\r\n;c\r\n\r\n[B]\r\n[A]\r\ny=2",
         Op::DeleteSection, "a", "", "", 1, "[B]\r\n[A]\r\ny=2"},
        {"delete last section", "top\r\n[A]\r\nx=1", Op::DeleteSection, "A", "", "", 1, "top\r\n"},
        {"empty key refused", "[A]\r\n", Op::Write, "A", " ", "v", 0, "[A]\r\n"},
        {"key with equals refused", "[A]\r\n", Op::Write, "A", "a=b", "v", 0, "[A]\r\n"},
        {"comment key refused", "[A]\r\n", Op::Write, "A", ";k", "v", 0, "[A]\r\n"},
        {"header-like key refused", "[A]\r\n", Op::Write, "A", "[B]", "v", 0, "[A]\r\n"},
        {"line break in value refused", "[A]\r\n", Op::Write, "A", "k", "v\r\n[B]", 0, "[A]\r\n"},
    };
    for (const WriteCase& c : cases) {
        SCOPED_TRACE(c.what);
        const QString path = file(QString::number(qHash(QString(c.what))) + ".ini");
        if (!c.before.isEmpty()) {
            ASSERT_TRUE(writeAll(path, c.before));
        }
        const int result = c.op == Op::Write       ? WriteIniValue(c.section, c.key, c.value, path)
                           : c.op == Op::DeleteKey ? DeleteIniKey(c.section, c.key, path)
                                                   : DeleteIniSection(c.section, path);
        EXPECT_EQ(result != 0, c.result != 0);
        EXPECT_EQ(readAll(path), c.after);
    }
}

TEST_F(IniFiles, WrittenValuesReadBack) {
    const QString path = file();
    for (const QString& v :
         {QString(), QString("a=b"), QString("'x'"), QString("\"\""), QString("\"a\" b \"c\""),
          QString("'"), QString("x'"), QString("v ; no comment"), QString("  lead"),
          QString("trail \t"), QString(" "), QString("\x1a^Z\x1a"), QString("caf\u00e9 \u20ac"),
          QString(2047, 'y'), QString(2046, 'y') + ' '}) {
        SCOPED_TRACE(v.left(20).toStdString());
        ASSERT_NE(WriteIniValue("Sec", "key", v, path), 0);
        EXPECT_EQ(ReadIniValue("sec", "KEY", "def", path), v);
    }
}

// A scrambled text is any run of printable characters: about one in 95 ends in a blank (the last
// character of the password scrambles to one), and the first character, which stamps the second
// of the minute, can be a blank too. Every password, stamped at every second, must come back.
TEST_F(IniFiles, ScrambledPasswordsSurviveTheFile) {
    QStringList passwords = {"Summer2024w", "F", " lead", "trail ", "'quoted'", "\"x\""};
    for (char16_t c = 32; c <= 126; ++c) {
        passwords << QString(QChar(c)) << QStringLiteral("Summer2024") + QChar(c);
    }
    int blankAtAnEnd = 0;
    for (int second = 0; second < 60; ++second) {
        IniDocument profile;
        for (qsizetype i = 0; i < passwords.size(); ++i) {
            const QString scrambled = EncryptPassword(passwords[i], second);
            blankAtAnEnd += scrambled.startsWith(' ') || scrambled.endsWith(' ');
            ASSERT_TRUE(profile.setValue("S", QString::number(i), scrambled));
        }
        const IniDocument reread = IniDocument::fromBytes(profile.toBytes());
        for (qsizetype i = 0; i < passwords.size(); ++i) {
            ASSERT_EQ(DecryptPassword(IniValueOf(reread, "S", QString::number(i), "")),
                      passwords[i])
                << "second " << second;
        }
    }
    EXPECT_GT(blankAtAnEnd, 60) << "the cases that matter were not met";
}

// A file read once answers every lookup from memory, and edits are seen by the lookups after them.
TEST_F(IniFiles, OneReadAnswersEveryKeyAndFollowsEdits) {
    QByteArray bytes;
    for (int i = 0; i < 1000; ++i) {
        const QByteArray n = QByteArray::number(i);
        bytes += "[Data Source::S" + n + "]\r\nName=S" + n + "\r\nType=" + n + "\r\n";
    }
    const QString path = withContent(bytes + "[data source::s7]\r\nName=duplicate\r\n");
    IniDocument profile = ReadIniFile(path);
    ASSERT_TRUE(QFile::remove(path));  // answers come from memory
    for (int i = 0; i < 1000; ++i) {
        const QString n = QString::number(i);
        ASSERT_EQ(IniValueOf(profile, "DATA SOURCE::s" + n, "type", "d"), n);
        ASSERT_EQ(IniValueOf(profile, "Data Source::S" + n, "Server", "d "), "d");
    }
    EXPECT_EQ(IniValueOf(profile, "Data Source::S7", "Name", ""), "S7");
    ASSERT_TRUE(profile.removeSection("Data Source::S0"));
    EXPECT_EQ(IniValueOf(profile, "Data Source::S0", "Name", "gone"), "gone");
    EXPECT_EQ(IniValueOf(profile, "Data Source::S1", "Name", ""), "S1");
    EXPECT_EQ(IniValueOf(profile, "Data Source::S999", "Type", ""), "999");
    ASSERT_TRUE(profile.setValue("Data Source::S1", "Server", "srv"));  // a line more in S1
    ASSERT_TRUE(profile.setValue("New", "k", "v"));
    EXPECT_EQ(IniValueOf(profile, "Data Source::S1", "Server", ""), "srv");
    EXPECT_EQ(IniValueOf(profile, "Data Source::S2", "Name", ""), "S2");
    EXPECT_EQ(IniValueOf(profile, "new", "K", ""), "v");
    ASSERT_TRUE(profile.removeSection("Data Source::S7"));
    EXPECT_EQ(IniValueOf(profile, "Data Source::S7", "Name", ""), "duplicate");
}

TEST_F(IniFiles, Latin1FileKeepsItsBytes) {
    const QString path = withContent("; caf\xE9\r\n[S]\r\nk=\xE9t\xE9\r\n[T]\r\nz=1\r\n");
    EXPECT_EQ(ReadIniValue("S", "k", "", path), "\u00e9t\u00e9");
    ASSERT_NE(WriteIniValue("S", "n", "na\u00efve", path), 0);
    EXPECT_EQ(readAll(path), "; caf\xE9\r\n[S]\r\nk=\xE9t\xE9\r\nn=na\xEFve\r\n[T]\r\nz=1\r\n");

    // A character Latin-1 cannot carry turns the file into UTF-8 with the same texts.
    ASSERT_NE(WriteIniValue("T", "z", "5 \u20ac", path), 0);
    EXPECT_EQ(readAll(path),
              "; caf\xC3\xA9\r\n[S]\r\nk=\xC3\xA9t\xC3\xA9\r\nn=na\xC3\xAFve\r\n[T]\r\n"
              "z=5 \xE2\x82\xAC\r\n");
}

TEST_F(IniFiles, Utf16FileIsReadAndStaysUtf16WithItsMark) {
    for (const auto encoding : {QStringConverter::Utf16LE, QStringConverter::Utf16BE}) {
        SCOPED_TRACE(encoding == QStringConverter::Utf16LE ? "LE" : "BE");
        auto utf16 = [&](const QString& text) {
            const QByteArray bom = encoding == QStringConverter::Utf16LE ? "\xFF\xFE" : "\xFE\xFF";
            return bom + QByteArray(QStringEncoder(encoding).encode(text));
        };
        const QString path = withContent(utf16("[Package Info]\r\nPackage=Caf\u00e9\r\n"));
        EXPECT_EQ(ReadIniValue("Package Info", "Package", "", path), "Caf\u00e9");
        ASSERT_NE(WriteIniValue("Package Info", "WriteEvent", "TRUE", path), 0);
        EXPECT_EQ(readAll(path),
                  utf16("[Package Info]\r\nPackage=Caf\u00e9\r\nWriteEvent=TRUE\r\n"));
        // A mark followed by no UTF-16 text (an odd length): an edit could turn it into UTF-16
        // with other texts, so it is left as it is.
        const QByteArray broken = utf16("[S]").left(5);
        const QString brokenPath = withContent(broken);
        EXPECT_EQ(WriteIniValue("S", "k", "v", brokenPath), 0);
        EXPECT_EQ(readAll(brokenPath), broken);
    }
}

TEST_F(IniFiles, Latin1TextsSurviveRemovingTheLinesThatMadeItLatin1) {
    // Read as Latin-1 because of the last line, "a" holds the two characters U+00C3 U+00A9.
    const QString path = withContent("[S]\r\na=\xC3\xA9\r\nb=\xE9\r\n");
    ASSERT_EQ(ReadIniValue("S", "a", "", path), QString::fromLatin1("\xC3\xA9"));
    ASSERT_NE(DeleteIniKey("S", "b", path), 0);
    EXPECT_EQ(ReadIniValue("S", "a", "", path), QString::fromLatin1("\xC3\xA9"));
}

TEST_F(IniFiles, OnlyChangesReplaceTheFile) {
    const QString path = withContent("[A]\r\nk=1\r\n");
    const ino_t before = statOf(path).st_ino;
    ASSERT_NE(WriteIniValue("A", "k", "1", path), 0);
    ASSERT_NE(DeleteIniKey("A", "missing", path), 0);
    ASSERT_NE(DeleteIniSection("missing", path), 0);
    EXPECT_EQ(statOf(path).st_ino, before);
    // A change replaces the file by renaming a new one over it.
    ASSERT_NE(WriteIniValue("A", "k", "2", path, 0600), 0);
    EXPECT_NE(statOf(path).st_ino, before);
    // The companion lock file stays for the next writer (the mode and the temporary file are
    // WriteFileAtomically's, tested with it).
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files), QStringList({"t.ini", "t.ini.lock"}));
}

TEST_F(IniFiles, UnwritableTargetsGiveZeroAndLoseNothing) {
    EXPECT_EQ(WriteIniValue("A", "k", "v", ""), 0);
    EXPECT_EQ(WriteIniValue("A", "k", "v", file("no/such/dir/x.ini")), 0);
    EXPECT_FALSE(QFile::exists(file("no/such/dir/x.ini")));
    ASSERT_TRUE(QDir(dir_.path()).mkdir("adir"));
    EXPECT_EQ(WriteIniValue("A", "k", "v", file("adir")), 0);
    // Neither a FIFO nor an endless device keeps a reader or a writer waiting.
    ASSERT_EQ(::mkfifo(QFile::encodeName(file("fifo")).constData(), 0600), 0);
    for (const QString& special : {file("fifo"), QStringLiteral("/dev/zero")}) {
        EXPECT_EQ(ReadIniValue("A", "k", "def", special), "def");
        EXPECT_FALSE(IniDocument::load(special).has_value());
    }
    EXPECT_EQ(WriteIniValue("A", "k", "v", file("fifo")), 0);
    // A read-only file system refuses even root.
    if (QFile::exists("/proc/self/status")) {
        EXPECT_EQ(WriteIniValue("A", "k", "v", "/proc/self/status"), 0);
    }
}

TEST_F(IniFiles, FilesThatMayNotBeWrittenOrReadKeepTheirContent) {
    const QString path = file("ro/x.ini");
    const QByteArray before = "[A]\r\nk=1\r\n";
    ASSERT_TRUE(QDir(dir_.path()).mkdir("ro") && writeAll(path, before));
    ASSERT_TRUE(chmodOf(dir_.path(), 0755) && chmodOf(file("ro"), 0555) && chmodOf(path, 0444));
    EXPECT_TRUE(heldUnprivileged([&] {
        return WriteIniValue("A", "k", "2", path) == 0 && DeleteIniKey("A", "k", path) == 0 &&
               DeleteIniSection("A", path) == 0 && ReadIniValue("A", "k", "", path) == "1";
    }));
    EXPECT_EQ(readAll(path), before);

    // A file that cannot be read reads as absent and is never replaced by a writer that could
    // not see what it holds.
    ASSERT_TRUE(chmodOf(file("ro"), 0777) && chmodOf(path, 0));
    EXPECT_TRUE(heldUnprivileged([&] {
        return ReadIniValue("A", "k", "def", path) == "def" &&
               WriteIniValue("A", "n", "v", path) == 0;
    }));
    ASSERT_TRUE(chmodOf(path, 0644));
    EXPECT_EQ(readAll(path), before);
}
