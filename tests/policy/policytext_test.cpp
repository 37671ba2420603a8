// The text forms of a row: the policy table file line (with the comma escape, the field codes
// and the guarded form for fields ending in a backslash) and the HTTP body line.
#include <gtest/gtest.h>

#include "policy/policy.h"
#include "policytest.h"
#include "support/testsupport.h"

namespace {

using policytest::Row;

// A row with values no line can produce, to see whether SetStringCsv touched it.
CPolicy Untouched() {
    CPolicy row = Row(false, 77, QStringLiteral("name?"), QStringLiteral("l?"), QStringLiteral("p?"),
                      QStringLiteral("a?"));
    return row;
}

void ExpectUntouched(const CPolicy& row) {
    EXPECT_TRUE(row.m_bDisabled);
    EXPECT_EQ(row.m_nSource, 77);
    EXPECT_EQ(row.m_csNetworkName, QStringLiteral("name?"));
    EXPECT_EQ(row.m_csLabel, QStringLiteral("l?"));
    EXPECT_EQ(row.m_csPriority, QStringLiteral("p?"));
    EXPECT_EQ(row.m_csAddress, QStringLiteral("a?"));
}

void ExpectSameRow(const CPolicy& a, const CPolicy& b) {
    EXPECT_EQ(a.m_bDisabled, b.m_bDisabled);
    EXPECT_EQ(a.m_nSource, b.m_nSource);
    EXPECT_EQ(a.m_csNetworkName, b.m_csNetworkName);
    EXPECT_EQ(a.m_csLabel, b.m_csLabel);
    EXPECT_EQ(a.m_csPriority, b.m_csPriority);
    EXPECT_EQ(a.m_csAddress, b.m_csAddress);
}

CPolicy Read(const QString& line) {
    CPolicy row = Untouched();
    row.SetStringCsv(line);
    return row;
}

bool HasLine(const QStringList& lines, const QString& tail) {
    for (const QString& line : lines)
        if (line.endsWith(tail)) return true;
    return false;
}

}  // namespace

// --- Writing a line -----------------------------------------------------------------------

TEST(PolicyCsvWrite, EscapesCommasInTheTextFields) {
    testsupport::CTestApp t;
    const CPolicy row = Row(false, 0, QStringLiteral("A,B"), QStringLiteral("1"), QStringLiteral("40"),
                            QStringLiteral("2001:db8::/32"));
    CPolicy on = row;
    on.m_bDisabled = false;
    EXPECT_EQ(on.GetStringCsv(), QStringLiteral("1,2,A\\,B,1,40,2001:db8::/32"));
    EXPECT_EQ(row.GetStringCsv(), QStringLiteral("0,2,A\\,B,1,40,2001:db8::/32"));
    const CPolicy commas = Row(true, 1, QStringLiteral(",,"), QStringLiteral("a,"), QStringLiteral(",b"),
                               QStringLiteral("c,d"));
    EXPECT_EQ(commas.GetStringCsv(), QStringLiteral("1,1,\\,\\,,a\\,,\\,b,c\\,d"));
    EXPECT_TRUE(HasLine(t.LogLines(), QStringLiteral(",DEBUG,csLine=1\\,2\\,A\\\\,B\\,1\\,40\\,2001:db8::/32")));
}

TEST(PolicyCsvWrite, OriginCodesRunTheOtherWay) {
    testsupport::CTestApp t;
    const struct {
        int source;
        const char* code;
    } cases[] = {{2, "0"}, {1, "1"}, {0, "2"}, {3, "2"}, {-1, "2"}};
    for (const auto& c : cases) {
        const CPolicy row = Row(true, c.source, QStringLiteral("n"), QStringLiteral("1"),
                                QStringLiteral("2"), QStringLiteral("::/0"));
        EXPECT_EQ(row.GetStringCsv(), QStringLiteral("1,%1,n,1,2,::/0").arg(QLatin1String(c.code)));
    }
}

TEST(PolicyCsvWrite, BackslashesElsewhereAreWrittenAsTheyAre) {
    testsupport::CTestApp t;
    // A backslash anywhere but at the end of field 3, 4 or 5 needs nothing: the ordinary form.
    const CPolicy row = Row(true, 0, QStringLiteral("C:\\net"), QStringLiteral("1"), QStringLiteral("2"),
                            QStringLiteral("::/0\\"));
    EXPECT_EQ(row.GetStringCsv(), QStringLiteral("1,2,C:\\net,1,2,::/0\\"));
    ExpectSameRow(Read(row.GetStringCsv()), row);
}

// --- Reading a line -----------------------------------------------------------------------

TEST(PolicyCsvRead, SetsEveryFieldOfAWellFormedLine) {
    testsupport::CTestApp t;
    const CPolicy row = Read(QStringLiteral("1,2,A\\,B,1,40,2001:db8::/32"));
    ExpectSameRow(row, Row(true, 0, QStringLiteral("A,B"), QStringLiteral("1"), QStringLiteral("40"),
                           QStringLiteral("2001:db8::/32")));
    EXPECT_TRUE(HasLine(t.LogLines(), QStringLiteral("CPolicyクラスのSetStringCsvの処理を終了します。")));
}

TEST(PolicyCsvRead, FieldOneSwitchesOnOnlyForOne) {
    testsupport::CTestApp t;
    EXPECT_FALSE(Read(QStringLiteral("1,2,n,1,2,p")).m_bDisabled);
    for (const char* code : {"0", "", "x", "01", "1 ", " 1", "TRUE", "１"})
        EXPECT_TRUE(Read(QStringLiteral("%1,2,n,1,2,p").arg(QString::fromUtf8(code))).m_bDisabled) << code;
}

TEST(PolicyCsvRead, FieldTwoGivesTheOrigin) {
    testsupport::CTestApp t;
    const struct {
        const char* code;
        int source;
    } cases[] = {{"0", 2}, {"1", 1}, {"2", 0}, {"", 0}, {"3", 0}, {"x", 0}, {"00", 0}, {" 1", 0}};
    for (const auto& c : cases)
        EXPECT_EQ(Read(QStringLiteral("1,%1,n,1,2,p").arg(QLatin1String(c.code))).m_nSource, c.source)
            << c.code;
}

TEST(PolicyCsvRead, NoFieldIsValidatedOrTrimmed) {
    testsupport::CTestApp t;
    const CPolicy row = Read(QStringLiteral("0,0, name ,label,0x7, not a prefix "));
    ExpectSameRow(row, Row(false, 2, QStringLiteral(" name "), QStringLiteral("label"), QStringLiteral("0x7"),
                           QStringLiteral(" not a prefix ")));
    EXPECT_TRUE(row.m_bDisabled);
}

TEST(PolicyCsvRead, TheCommaPlaceholderIsTurnedBackOnlyInTheName) {
    testsupport::CTestApp t;
    CPolicy row = Read(QStringLiteral("1,2,a&canma;b,1\\,2,3\\,4,5\\,6"));
    EXPECT_EQ(row.m_csNetworkName, QStringLiteral("a,b"));
    EXPECT_EQ(row.m_csLabel, QStringLiteral("1&canma;2"));
    EXPECT_EQ(row.m_csPriority, QStringLiteral("3&canma;4"));
    EXPECT_EQ(row.m_csAddress, QStringLiteral("5&canma;6"));
}

TEST(PolicyCsvRead, LinesWithoutSixFieldsLeaveTheRowUnchanged) {
    testsupport::CTestApp t;
    for (const char* line : {"1,2,a,b,1,40,2001:db8::/32",   // seven fields: an unescaped comma
                             "1,2,1,40,2001:db8::/32",       // five fields
                             "1,2,n,1,40,",                  // a trailing comma adds no field
                             "1,2,n,1,40,p,x",               // seven fields, not the guarded form
                             "1,2,n,1,40,p,||",
                             "1,2,n,1,40,p,|,|",
                             "no commas at all"}) {
        ExpectUntouched(Read(QString::fromLatin1(line)));
    }
    EXPECT_TRUE(HasLine(t.LogLines(), QStringLiteral(",DEBUG,csaPolicy.GetCount=!6")));
}

TEST(PolicyCsvRead, ATrailingCommaAfterTheSixthFieldIsDropped) {
    testsupport::CTestApp t;
    const CPolicy row = Read(QStringLiteral("1,1,n,1,40,2001:db8::/32,"));
    EXPECT_EQ(row.m_csAddress, QStringLiteral("2001:db8::/32"));
    EXPECT_EQ(row.m_nSource, 1);
}

TEST(PolicyCsvRead, AnEmptyLineLeavesTheRowUnchanged) {
    testsupport::CTestApp t;
    ExpectUntouched(Read(QString()));
    EXPECT_TRUE(HasLine(t.LogLines(), QStringLiteral(",DEBUG,csLine.IsEmpty=TRUE")));
}

// --- Round trips ----------------------------------------------------------------------------

TEST(PolicyCsvRoundTrip, CommasInTheNameSurvive) {
    testsupport::CTestApp t;
    for (const QString& name : {QStringLiteral("A,B"), QStringLiteral(","), QStringLiteral(",x,"),
                                QStringLiteral("a\\,b"), QStringLiteral("a\\\\,b"), QStringLiteral("ネット,ワーク")}) {
        const CPolicy row = Row(false, 1, name, QStringLiteral("3"), QStringLiteral("7"), QStringLiteral("::/0"));
        ExpectSameRow(Read(row.GetStringCsv()), row);
    }
}

TEST(PolicyCsvRoundTrip, TheLiteralPlaceholderInANameReadsBackAsAComma) {
    testsupport::CTestApp t;
    const CPolicy row = Row(true, 0, QStringLiteral("x&canma;y"), QStringLiteral("1"), QStringLiteral("2"),
                            QStringLiteral("::/0"));
    EXPECT_EQ(row.GetStringCsv(), QStringLiteral("1,2,x&canma;y,1,2,::/0"));
    EXPECT_EQ(Read(row.GetStringCsv()).m_csNetworkName, QStringLiteral("x,y"));
}

// --- Fields ending in a backslash -----------------------------------------------------------

TEST(PolicyCsvBackslash, ANameEndingInABackslashIsWrittenInTheGuardedForm) {
    testsupport::CTestApp t;
    const CPolicy row = Row(true, 0, QStringLiteral("C:\\net\\"), QStringLiteral("1"), QStringLiteral("40"),
                            QStringLiteral("2001:db8::/32"));
    EXPECT_EQ(row.GetStringCsv(), QStringLiteral("1,2,C:\\net\\|,1,40,2001:db8::/32,|"));
    ExpectSameRow(Read(row.GetStringCsv()), row);
}

TEST(PolicyCsvBackslash, TheOldFormOfSuchARowStillReadsAsBefore) {
    testsupport::CTestApp t;
    // What was written for such a row before: the backslash swallows the separator, five fields.
    ExpectUntouched(Read(QStringLiteral("1,2,C:\\net\\,1,40,2001:db8::/32")));
    ExpectUntouched(Read(QStringLiteral("1,2,ab\\\\,1,40,2001:db8::/32")));
}

TEST(PolicyCsvBackslash, EveryCombinationOfTrickyEndingsRoundTrips) {
    testsupport::CTestApp t;
    t.Log().SetLogLevel(QStringLiteral("ERROR"));
    const QStringList names = {QString(), QStringLiteral("\\"), QStringLiteral("\\\\"), QStringLiteral("|"),
                               QStringLiteral("\\|"), QStringLiteral("|\\"), QStringLiteral("a,\\"),
                               QStringLiteral("a\\,"), QStringLiteral("||"), QStringLiteral("x")};
    // Fields 4 to 6 may not hold commas (they would come back as the placeholder); everything
    // else goes.
    const QStringList others = {QString(), QStringLiteral("\\"), QStringLiteral("|"), QStringLiteral("\\|"),
                                QStringLiteral("7\\\\"), QStringLiteral("::/0")};
    int guarded = 0;
    for (const QString& name : names)
        for (const QString& label : others)
            for (const QString& priority : others)
                for (const QString& address : others) {
                    const CPolicy row = Row(name.size() % 2 == 0, label.size() % 3, name, label, priority, address);
                    const QString line = row.GetStringCsv();
                    if (line.endsWith(QStringLiteral(",|"))) ++guarded;
                    const CPolicy back = Read(line);
                    ASSERT_EQ(back.m_nSource, row.m_nSource) << line.toStdString();
                    ExpectSameRow(back, row);
                }
    EXPECT_GT(guarded, 0);
}

TEST(PolicyCsvBackslash, RowsWithoutSuchAFieldAreWrittenExactlyAsBefore) {
    testsupport::CTestApp t;
    // The ordinary form, byte for byte: fields joined by "," with commas escaped, nothing more.
    const QStringList texts = {QString(), QStringLiteral("|"), QStringLiteral("a|"), QStringLiteral("\\a"),
                               QStringLiteral("x,y"), QStringLiteral("&canma;")};
    for (const QString& name : texts)
        for (const QString& label : texts)
            for (const QString& address : {QStringLiteral("::/0"), QStringLiteral("p\\")}) {
                const CPolicy row = Row(false, 2, name, label, QStringLiteral("5"), address);
                QStringList fields = {QStringLiteral("0"), QStringLiteral("0"), name, label,
                                      QStringLiteral("5"), address};
                for (int i = 2; i < 6; ++i) fields[i].replace(u',', QStringLiteral("\\,"));
                EXPECT_EQ(row.GetStringCsv(), fields.join(u','));
            }
}

TEST(PolicyCsvBackslash, AnEmptyPrefixIsWrittenInTheGuardedFormToo) {
    testsupport::CTestApp t;
    // The ordinary form would end in "," and lose its last field on reading.
    const CPolicy row = Row(false, 1, QStringLiteral("Network(HTTP_DEFAULT)"), QStringLiteral("0"),
                            QStringLiteral("0"), QString());
    EXPECT_EQ(row.GetStringCsv(), QStringLiteral("0,1,Network(HTTP_DEFAULT),0,0,,|"));
    ExpectSameRow(Read(row.GetStringCsv()), row);
}

TEST(PolicyCsvBackslash, TheGuardIsRemovedOnlyInTheGuardedForm) {
    testsupport::CTestApp t;
    // An ordinary line keeps a trailing "|" in its fields.
    CPolicy row = Read(QStringLiteral("1,2,n|,1|,2|,p|"));
    EXPECT_EQ(row.m_csNetworkName, QStringLiteral("n|"));
    EXPECT_EQ(row.m_csAddress, QStringLiteral("p|"));
    // The guarded form removes one guard from each field 3 to 6 that ends in one.
    row = Read(QStringLiteral("0,1,n\\||,1\\|,2,p|,|"));
    EXPECT_EQ(row.m_csNetworkName, QStringLiteral("n\\|"));
    EXPECT_EQ(row.m_csLabel, QStringLiteral("1\\"));
    EXPECT_EQ(row.m_csPriority, QStringLiteral("2"));
    EXPECT_EQ(row.m_csAddress, QStringLiteral("p"));
    EXPECT_TRUE(row.m_bDisabled);
    EXPECT_EQ(row.m_nSource, 1);
}

// --- HTTP line ----------------------------------------------------------------------------

TEST(PolicyHttpLine, TakesTheSecondFieldAndTheSettings) {
    testsupport::CTestApp t;
    t.SetSetting(QStringLiteral("HTTP"), QStringLiteral("NETWORK_NAME"), QStringLiteral("Office"));
    t.SetSetting(QStringLiteral("HTTP"), QStringLiteral("LABEL"), QStringLiteral("12"));
    t.SetSetting(QStringLiteral("HTTP"), QStringLiteral("PRIORITY"), QStringLiteral("35"));
    CPolicy row;
    row.m_bDisabled = false;
    row.SetStringHttp(QStringLiteral("x,2001:db8::/32\r"));
    EXPECT_TRUE(row.m_bDisabled);
    EXPECT_EQ(row.m_nSource, 1);
    EXPECT_EQ(row.m_csNetworkName, QStringLiteral("Office"));
    EXPECT_EQ(row.m_csLabel, QStringLiteral("12"));
    EXPECT_EQ(row.m_csPriority, QStringLiteral("35"));
    EXPECT_EQ(row.m_csAddress, QStringLiteral("2001:db8::/32"));
}

TEST(PolicyHttpLine, DefaultsApplyWhenTheSettingsAreMissing) {
    testsupport::CTestApp t;
    ASSERT_TRUE(testsupport::WriteFile(t.App().m_pszProfileName, "[APPLICATION]\r\nLOG_LEVEL=DEBUG\r\n"));
    CPolicy row;
    row.SetStringHttp(QStringLiteral(",  \r\n 2001:db8:1::/48 \r\r,ignored,too"));
    EXPECT_EQ(row.m_csNetworkName, QStringLiteral("Network(HTTP_DEFAULT)"));
    EXPECT_EQ(row.m_csLabel, QStringLiteral("0"));
    EXPECT_EQ(row.m_csPriority, QStringLiteral("0"));
    EXPECT_EQ(row.m_csAddress, QStringLiteral("2001:db8:1::/48"));
}

TEST(PolicyHttpLine, OneFieldLeavesTheRowUnchanged) {
    testsupport::CTestApp t;
    CPolicy row = Untouched();
    row.SetStringHttp(QStringLiteral("2001:db8::/32"));
    ExpectUntouched(row);
    row.SetStringHttp(QStringLiteral("2001:db8::/32,"));  // the trailing empty field is dropped
    ExpectUntouched(row);
    row.SetStringHttp(QString());
    ExpectUntouched(row);
    EXPECT_TRUE(HasLine(t.LogLines(), QStringLiteral(",DEBUG,GetCount()=<= 1")));
}

TEST(PolicyHttpLine, ThePrefixIsNotValidated) {
    testsupport::CTestApp t;
    CPolicy row;
    row.SetStringHttp(QStringLiteral("a,not a prefix"));
    EXPECT_EQ(row.m_csAddress, QStringLiteral("not a prefix"));
}
