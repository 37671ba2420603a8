// The settings (profile) file: reading with defaults, the accepted syntax, bad input, and
// writes that keep every other line and never destroy the file.
#include "platform/profile.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <climits>

#include "platform/codepage.h"
#include "support/testsupport.h"

using platform::GetProfileInt;
using platform::GetProfileString;
using platform::WriteProfileString;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

class Profile : public ::testing::Test {
protected:
    QString Ini() const { return m_dir.path() + QStringLiteral("/zarntool.ini"); }
    void Write(const QByteArray& bytes) { ASSERT_TRUE(WriteFile(Ini(), bytes)); }
    QString Get(const char* section, const char* key,
                const QString& def = QStringLiteral("<def>")) {
        return GetProfileString(Ini(), QString::fromLatin1(section), QString::fromLatin1(key), def);
    }
    int Int(const char* section, const char* key, int def = -777) {
        return GetProfileInt(Ini(), QString::fromLatin1(section), QString::fromLatin1(key), def);
    }
    bool Put(const QString& section, const QString& key, const QString& value) {
        return WriteProfileString(Ini(), section, key, value);
    }
    QTemporaryDir m_dir;
};

// Makes a path read-only for the test and writable again afterwards, so the folder can be removed.
class CReadOnly {
public:
    explicit CReadOnly(QString path) : m_path(std::move(path)) {
        m_old = QFile::permissions(m_path);
        QFile::setPermissions(m_path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther |
                                          QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther);
    }
    ~CReadOnly() { QFile::setPermissions(m_path, m_old); }

private:
    QString m_path;
    QFile::Permissions m_old;
};

// Bytes of a literal, NULs included.
template <size_t N>
QByteArray Bytes(const char (&s)[N]) {
    return QByteArray(s, N - 1);
}

}  // namespace

TEST_F(Profile, MissingFileSectionOrKeyGivesTheCallersDefault) {
    EXPECT_EQ(Get("APPLICATION", "LANG"), QStringLiteral("<def>"));
    EXPECT_EQ(Int("DCHP", "OPTION_CODE", 27), 27);
    Write("[APPLICATION]\r\nLANG=Japanese\r\n");
    EXPECT_EQ(Get("APPLICATION", "OS", QStringLiteral("WindowsXP")), QStringLiteral("WindowsXP"));
    EXPECT_EQ(Get("HTTP", "LANG"), QStringLiteral("<def>"));
    EXPECT_EQ(Get("APPLICATION", "LANG"), QStringLiteral("Japanese"));
    EXPECT_EQ(Int("DCHP", "OPTION_CODE", 27), 27);
}

TEST_F(Profile, NamesMatchWithoutCaseAndBlanksAroundNamesAndValuesAreIgnored) {
    Write("  [ application ]  \r\n  log_level =  warn  \r\n\tLang\t=\tJapanese\t\r\n");
    EXPECT_EQ(Get("APPLICATION", "LOG_LEVEL"), QStringLiteral("warn"));
    EXPECT_EQ(Get("Application", "LANG"), QStringLiteral("Japanese"));
}

TEST_F(Profile, KeepsFullWidthSpacesThatArePartOfTheValue) {
    Write(platform::ToCp932(u"[DEFAULT]\r\nNETWORK_V6=　IPv6　\r\n"));
    EXPECT_EQ(Get("DEFAULT", "NETWORK_V6"), QStringLiteral("　IPv6　"));
}

TEST_F(Profile, ReadsCp932ValuesAndStripsOnePairOfQuotes) {
    Write(platform::ToCp932(
        u"[DHCP]\r\nNETWORK_NAME=社内ネットワーク\r\n[HTTP]\r\nNETWORK_NAME=\"a b\"\r\n"
        u"LABEL=\"\"x\"\"\r\n"));
    EXPECT_EQ(Get("DHCP", "NETWORK_NAME"), QStringLiteral("社内ネットワーク"));
    EXPECT_EQ(Get("HTTP", "NETWORK_NAME"), QStringLiteral("a b"));
    EXPECT_EQ(Get("HTTP", "LABEL"), QStringLiteral("\"x\""));
}

TEST_F(Profile, EmptyValueIsAnEmptyTextNotTheDefault) {
    Write("[APPLICATION]\nADDRESS=\nLANG\n");
    EXPECT_EQ(Get("APPLICATION", "ADDRESS"), QString());
    // A line without "=" is no key.
    EXPECT_EQ(Get("APPLICATION", "LANG"), QStringLiteral("<def>"));
}

TEST_F(Profile, SkipsCommentsJunkAndBinaryLinesAndKeysBeforeTheFirstSection) {
    QByteArray bytes("OS=Orphan\r\n; a comment\r\n;LANG=Commented\r\n[APPLICATION]\r\n");
    bytes += Bytes("\x00\x01\x02\xFF\xFE junk without equals\r\n");
    bytes += "=no key\r\n";
    bytes += QByteArray("\x80\x81\xA0=\xFD\xFE\r\n");  // invalid CP932 on both sides
    bytes += "LANG=Japanese\r\n";
    bytes += Bytes("OS=Windows7\x00trailing\r\n");
    Write(bytes);
    EXPECT_EQ(Get("APPLICATION", "LANG"), QStringLiteral("Japanese"));
    EXPECT_EQ(Get("NOSECTION", "OS"), QStringLiteral("<def>"));
    // The value keeps whatever followed the NUL; it is text like any other.
    EXPECT_TRUE(Get("APPLICATION", "OS").startsWith(QStringLiteral("Windows7")));
}

TEST_F(Profile, InvalidCp932InAValueReadsAsReplacementCharacters) {
    Write(QByteArray("[A]\r\nK=x\x81\x20y\xFFz\r\n"));
    const QString v = Get("A", "K");
    EXPECT_TRUE(v.startsWith(u'x'));
    EXPECT_TRUE(v.endsWith(u'z'));
    EXPECT_TRUE(v.contains(QChar::ReplacementCharacter));
}

TEST_F(Profile, VeryLongLinesAreReadWhole) {
    const QByteArray longValue(2 * 1024 * 1024, 'v');
    Write("[A]\r\nLONG=" + longValue + "\r\nAFTER=1\r\n" + QByteArray(300000, 'j') +
          "\r\nLAST=2\r\n");
    EXPECT_EQ(Get("A", "LONG").size(), longValue.size());
    EXPECT_EQ(Int("A", "AFTER"), 1);
    EXPECT_EQ(Int("A", "LAST"), 2);
}

TEST_F(Profile, TheFirstOfDuplicateKeysAndSectionsWins) {
    Write(
        "[APPLICATION]\r\nLANG=First\r\nlang=Second\r\n[APPLICATION]\r\nLANG=Third\r\nOS="
        "Windows7\r\n");
    EXPECT_EQ(Get("APPLICATION", "LANG"), QStringLiteral("First"));
    EXPECT_EQ(Get("APPLICATION", "OS"), QStringLiteral("<def>"));
    ASSERT_TRUE(Put(QStringLiteral("APPLICATION"), QStringLiteral("LANG"), QStringLiteral("New")));
    EXPECT_EQ(ReadFile(Ini()), QByteArray("[APPLICATION]\r\nLANG=New\r\nlang=Second\r\n["
                                          "APPLICATION]\r\nLANG=Third\r\nOS=Windows7\r\n"));
}

TEST_F(Profile, AcceptsLfOnlyLinesAndAMissingFinalLineEnd) {
    Write("[DCHP]\nOPTION_CODE=31");
    EXPECT_EQ(Int("DCHP", "OPTION_CODE", 27), 31);
}

TEST_F(Profile, IntegersReadAsDecimalNumbers) {
    Write(
        "[N]\r\nA=27\r\nB= "
        "42abc\r\nC=abc\r\nD=\r\nE=-5\r\nF=+8\r\nG=99999999999\r\nH=-99999999999\r\n"
        "I=0x1F\r\nJ=007\r\n");
    EXPECT_EQ(Int("N", "A"), 27);
    EXPECT_EQ(Int("N", "B"), 42);
    EXPECT_EQ(Int("N", "C"), 0);
    EXPECT_EQ(Int("N", "D", 27), 27);  // empty value: the default
    EXPECT_EQ(Int("N", "E"), -5);
    EXPECT_EQ(Int("N", "F"), 8);
    EXPECT_EQ(Int("N", "G"), INT_MAX);
    EXPECT_EQ(Int("N", "H"), INT_MIN);
    EXPECT_EQ(Int("N", "I"), 0);  // decimal only
    EXPECT_EQ(Int("N", "J"), 7);
    EXPECT_EQ(Int("N", "MISSING", 27), 27);
}

TEST_F(Profile, WritingReplacesTheValueAndKeepsEveryOtherLineByteForByte) {
    const QByteArray before =
        "; Corvane settings\r\n[APPLICATION]\r\nlog_level = info\r\nLang = English\r\nCUSTOM=keep "
        "me\n"
        "\r\n[DEFAULT]\r\nNETWORK_V6=IPv6\r\n";
    Write(before);
    ASSERT_TRUE(
        Put(QStringLiteral("APPLICATION"), QStringLiteral("LANG"), QStringLiteral("Japanese")));
    QByteArray expected = before;
    expected.replace("Lang = English", "Lang =Japanese");
    EXPECT_EQ(ReadFile(Ini()), expected);
    EXPECT_EQ(Get("APPLICATION", "LANG"), QStringLiteral("Japanese"));
}

TEST_F(Profile, WritingAMissingKeyAddsItAtTheEndOfItsSection) {
    Write("[APPLICATION]\r\nLANG=Japanese\r\n\r\n[DCHP]\r\nOPTION_CODE=27\r\n");
    ASSERT_TRUE(
        Put(QStringLiteral("APPLICATION"), QStringLiteral("OS"), QStringLiteral("Windows7")));
    EXPECT_EQ(
        ReadFile(Ini()),
        QByteArray(
            "[APPLICATION]\r\nLANG=Japanese\r\nOS=Windows7\r\n\r\n[DCHP]\r\nOPTION_CODE=27\r\n"));
}

TEST_F(Profile, WritingAMissingSectionAppendsItAndAMissingFileIsCreated) {
    ASSERT_TRUE(
        Put(QStringLiteral("APPLICATION"), QStringLiteral("LANG"), QStringLiteral("Japanese")));
    EXPECT_EQ(ReadFile(Ini()), QByteArray("[APPLICATION]\r\nLANG=Japanese\r\n"));
    Write("[APPLICATION]\r\nLANG=Japanese");  // no final line end
    ASSERT_TRUE(Put(QStringLiteral("HTTP"), QStringLiteral("LABEL"), QStringLiteral("3")));
    EXPECT_EQ(ReadFile(Ini()),
              QByteArray("[APPLICATION]\r\nLANG=Japanese\r\n[HTTP]\r\nLABEL=3\r\n"));
}

TEST_F(Profile, WritesJapaneseValuesInCp932) {
    ASSERT_TRUE(
        Put(QStringLiteral("DHCP"), QStringLiteral("NETWORK_NAME"), QStringLiteral("社内")));
    EXPECT_EQ(ReadFile(Ini()), QByteArray("[DHCP]\r\nNETWORK_NAME=\x8e\xd0\x93\xe0\r\n"));
    EXPECT_EQ(Get("DHCP", "NETWORK_NAME"), QStringLiteral("社内"));
}

TEST_F(Profile, RefusesWritesThatWouldNotReadBackAsWritten) {
    Write("[APPLICATION]\r\nADDRESS=old\r\n");
    const QByteArray before = ReadFile(Ini());
    EXPECT_FALSE(Put(QStringLiteral("APPLICATION"), QStringLiteral("ADDRESS"),
                     QStringLiteral("x\r\n[EVIL]\r\nK=v")));
    EXPECT_FALSE(
        Put(QStringLiteral("APPLICATION"), QStringLiteral("ADDRESS"), QStringLiteral("x\ny")));
    EXPECT_FALSE(Put(QStringLiteral("APPLICATION"), QStringLiteral("A=B"), QStringLiteral("v")));
    EXPECT_FALSE(Put(QStringLiteral("APP]X"), QStringLiteral("K"), QStringLiteral("v")));
    EXPECT_FALSE(Put(QStringLiteral("APPLICATION"), QStringLiteral(" K"), QStringLiteral("v")));
    EXPECT_FALSE(Put(QString(), QStringLiteral("K"), QStringLiteral("v")));
    EXPECT_FALSE(Put(QStringLiteral("APPLICATION"), QString(), QStringLiteral("v")));
    EXPECT_FALSE(Put(QStringLiteral("APPLICATION"), QStringLiteral(";K"), QStringLiteral("v")));
    EXPECT_EQ(ReadFile(Ini()), before);
    EXPECT_FALSE(WriteProfileString(QString(), QStringLiteral("A"), QStringLiteral("K"),
                                    QStringLiteral("v")));
}

TEST_F(Profile, ReadOnlyFileRefusesTheWriteAndStaysUnchanged) {
    Write("[APPLICATION]\r\nLANG=Japanese\r\n");
    const QByteArray before = ReadFile(Ini());
    {
        CReadOnly readOnly(Ini());  // refuses even when the tests run as root
        EXPECT_FALSE(
            Put(QStringLiteral("APPLICATION"), QStringLiteral("LANG"), QStringLiteral("English")));
        EXPECT_FALSE(
            Put(QStringLiteral("APPLICATION"), QStringLiteral("OS"), QStringLiteral("Windows7")));
    }
    EXPECT_EQ(ReadFile(Ini()), before);
    EXPECT_EQ(Get("APPLICATION", "LANG"), QStringLiteral("Japanese"));
}

TEST_F(Profile, ReadOnlyFolderRefusesTheWriteAndStaysUnchanged) {
    Write("[APPLICATION]\r\nLANG=Japanese\r\n");
    const QByteArray before = ReadFile(Ini());
    {
        CReadOnly readOnly(m_dir.path());
        EXPECT_FALSE(
            Put(QStringLiteral("APPLICATION"), QStringLiteral("LANG"), QStringLiteral("English")));
        EXPECT_EQ(Get("APPLICATION", "LANG"), QStringLiteral("Japanese"));  // reading still works
    }
    EXPECT_EQ(ReadFile(Ini()), before);
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files),
              QStringList{QStringLiteral("zarntool.ini")});
}

TEST_F(Profile, WritingIntoAMissingFolderFails) {
    EXPECT_FALSE(WriteProfileString(m_dir.path() + QStringLiteral("/missing/zarntool.ini"),
                                    QStringLiteral("A"), QStringLiteral("K"), QStringLiteral("v")));
}

TEST_F(Profile, WritesLeaveNoTemporaryFilesAndKeepThePermissions) {
    Write("[A]\r\nK=1\r\n");
    QFile::setPermissions(Ini(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(Put(QStringLiteral("A"), QStringLiteral("K%1").arg(i), QString::number(i)));
    for (int i = 0; i < 20; ++i) EXPECT_EQ(Int("A", qPrintable(QStringLiteral("K%1").arg(i))), i);
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("zarntool.ini")});
    const QFile::Permissions ownerGroupOther(0x7077);
    EXPECT_EQ(QFile::permissions(Ini()) & ownerGroupOther,
              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
}

TEST_F(Profile, AFolderInPlaceOfTheFileReadsDefaultsAndRefusesWrites) {
    ASSERT_TRUE(QDir().mkpath(Ini()));
    EXPECT_EQ(Get("APPLICATION", "LANG"), QStringLiteral("<def>"));
    EXPECT_FALSE(Put(QStringLiteral("APPLICATION"), QStringLiteral("LANG"), QStringLiteral("x")));
}

TEST_F(Profile, AValueChangedByAnotherProgramIsSeenAtTheNextRead) {
    Write("[APPLICATION]\r\nOS=WindowsXP\r\n");
    EXPECT_EQ(Get("APPLICATION", "OS"), QStringLiteral("WindowsXP"));
    // Rewritten in place: same inode, same size, only the content and times differ.
    {
        QFile f(Ini());
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.seek(18));
        ASSERT_EQ(f.write("Windows7 "), 9);
    }
    EXPECT_EQ(Get("APPLICATION", "OS"), QStringLiteral("Windows7"));
    ASSERT_TRUE(Put(QStringLiteral("APPLICATION"), QStringLiteral("OS"), QStringLiteral("WindowsVista")));
    EXPECT_EQ(Get("APPLICATION", "OS"), QStringLiteral("WindowsVista"));
    // Another file at another path is never answered from the first one.
    const QString other = m_dir.path() + QStringLiteral("/other.ini");
    ASSERT_TRUE(WriteFile(other, "[APPLICATION]\r\nOS=Other\r\n"));
    EXPECT_EQ(GetProfileString(other, QStringLiteral("APPLICATION"), QStringLiteral("OS"), {}),
              QStringLiteral("Other"));
    QFile::remove(Ini());
    EXPECT_EQ(Get("APPLICATION", "OS"), QStringLiteral("<def>"));
}
