// The RTF reader: text, code pages, Unicode escapes, groups and formatting, skipped
// destinations, and damaged input.
#include <QRandomGenerator>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <gtest/gtest.h>

#include "ui/dialog/rtfreader.h"

namespace {

struct Read {
    bool ok = false;
    QString text;
    std::unique_ptr<QTextDocument> doc = std::make_unique<QTextDocument>();
};

Read ReadRtf(const QByteArray& rtf) {
    Read r;
    r.ok = CRtfReader::Read(rtf, r.doc.get());
    r.text = r.doc->toPlainText();
    return r;
}

// The character format at the first occurrence of `needle`.
QTextCharFormat FormatOf(const QTextDocument& doc, const QString& needle) {
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextFragment f = it.fragment();
            if (f.text().contains(needle)) return f.charFormat();
        }
    }
    ADD_FAILURE() << "not found: " << needle.toStdString();
    return {};
}

}  // namespace

TEST(RtfReader, ParagraphsLinesTabsAndSymbols) {
    const Read r = ReadRtf("{\\rtf1\\ansi Hello\\par World\\line next\\tab x \\{a\\}\\\\b\\~c\\emdash}");
    EXPECT_TRUE(r.ok);
    // The raw text keeps the line separator and the no-break space.
    EXPECT_EQ(r.doc->toRawText(), QStringLiteral("Hello\u2029World\u2028next\tx {a}\\b\u00a0c\u2014"));
    EXPECT_EQ(r.doc->blockCount(), 2);
}

TEST(RtfReader, LineEndsInTheFileAreNotText) {
    const Read r = ReadRtf("{\\rtf1 one\r\ntwo\\\r\nthree}");
    EXPECT_EQ(r.text, QStringLiteral("onetwo\nthree"));
}

TEST(RtfReader, JapaneseHexPairsInCodePage932) {
    // 日本語 in CP932: 93 FA 96 7B 8C EA.
    const Read r = ReadRtf("{\\rtf1\\ansi\\ansicpg932 \\'93\\'fa\\'96\\'7b\\'8c\\'ea}");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.text, QStringLiteral("日本語"));
    // A trail byte written as a plain character: テ is 83 65.
    EXPECT_EQ(ReadRtf("{\\rtf1\\ansicpg932 \\'83e\\'83\\'58\\'83g}").text, QStringLiteral("テスト"));
    // Upper-case hex digits.
    EXPECT_EQ(ReadRtf("{\\rtf1\\ansicpg932 \\'93\\'FA}").text, QStringLiteral("日"));
}

TEST(RtfReader, FontCharsetSelectsTheCodePage) {
    // Font 1 carries the character set; the text around it is in font 0, Shift-JIS (日).
    const struct {
        int charset;
        int documentCodePage;
        const char* body;
        const char16_t* expected;
    } kCases[] = {
        {0, 932, "Caf\\'e9 \\'a9\\'80", u"Café ©€"},  // Western font in a Japanese document
        {0, 1252, "caf\\'e9", u"café"},
        {1, 1252, "\\'e9", u"é"},  // the default character set reads in the document's page
        {1, 932, "\\'83\\'65", u"テ"},
        {2, 932, "a\\'b1", u"\uF061\uF0B1"},  // symbol: the font's own glyphs
        {77, 932, "\\'8e\\'a5", u"é•"},
        {128, 1252, "\\'83\\'65\\'83\\'58", u"テス"},
        {129, 932, "\\'c7\\'d1\\'b1\\'b9", u"한국"},
        {134, 932, "\\'d6\\'d0\\'ce\\'c4", u"中文"},
        {136, 932, "\\'a4\\'a4\\'a4\\'e5", u"中文"},
        {161, 932, "\\'e1", u"α"},
        {162, 932, "\\'fe\\'f0", u"şğ"},
        {163, 932, "\\'d0\\'f5", u"Đơ"},
        {177, 932, "\\'e0", u"א"},
        {178, 932, "\\'c7", u"ا"},
        {186, 932, "\\'e0", u"ą"},
        {204, 932, "\\'c0\\'e0", u"Аа"},
        {222, 932, "\\'a1", u"ก"},
        {238, 932, "\\'9a", u"š"},
        {255, 932, "\\'82\\'c4", u"é─"},
    };
    for (const auto& c : kCases) {
        const QByteArray rtf = "{\\rtf1\\ansi\\ansicpg" + QByteArray::number(c.documentCodePage) +
                               "\\deff0{\\fonttbl{\\f0\\fnil\\fcharset128 MS Gothic;}"
                               "{\\f1\\fnil\\fcharset" + QByteArray::number(c.charset) +
                               " Other;}}\\'93\\'fa{\\f1 " + c.body + "}\\'93\\'fa}";
        const Read r = ReadRtf(rtf);
        EXPECT_TRUE(r.ok) << c.charset;
        EXPECT_EQ(r.text, QStringLiteral("日") + QString::fromUtf16(c.expected) + QStringLiteral("日"))
            << c.charset;
    }
    // Without a character set a font reads in the document's code page.
    EXPECT_EQ(ReadRtf("{\\rtf1\\ansicpg932{\\fonttbl{\\f0 Arial;}}\\f0 \\'93\\'fa}").text,
              QStringLiteral("日"));
}

TEST(RtfReader, UnicodeEscapesWithTheirFallbacks) {
    // \uN followed by one fallback character (the default \uc1).
    EXPECT_EQ(ReadRtf("{\\rtf1 \\u26085?\\u26412?}").text, QStringLiteral("日本"));
    // \uc2 skips a two-byte fallback.
    EXPECT_EQ(ReadRtf("{\\rtf1\\ansicpg932\\uc2 \\u26085\\'93\\'fa!}").text, QStringLiteral("日!"));
    // \uc0: nothing skipped.
    EXPECT_EQ(ReadRtf("{\\rtf1\\uc0 \\u26085 x}").text, QStringLiteral("日x"));
    // Negative values count from 65536; a control word counts as one fallback character.
    EXPECT_EQ(ReadRtf("{\\rtf1 \\u-3\\'3f a}").text, QStringLiteral("\ufffd a"));
    EXPECT_EQ(ReadRtf("{\\rtf1 \\u8364\\emdash z}").text, QStringLiteral("€z"));
    // A surrogate pair written as two escapes.
    EXPECT_EQ(ReadRtf("{\\rtf1 \\u-10179?\\u-8704?}").text, QString::fromUcs4(U"\U0001F600", 1));
    // The skip ends at a group boundary.
    EXPECT_EQ(ReadRtf("{\\rtf1\\uc3 \\u26085{b}c}").text, QStringLiteral("日bc"));
    // \uc is scoped to its group.
    EXPECT_EQ(ReadRtf("{\\rtf1 {\\uc0 \\u26085}\\u26412?}").text, QStringLiteral("日本"));
}

TEST(RtfReader, NestedGroupsScopeTheFormatting) {
    const Read r = ReadRtf("{\\rtf1 a{\\b b{\\i c}d}e\\ul u\\ulnone n\\b x\\b0 y{\\strike s}}");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.text, QStringLiteral("abcdeunxys"));
    EXPECT_EQ(FormatOf(*r.doc, QStringLiteral("a")).fontWeight(), QFont::Normal);
    EXPECT_EQ(FormatOf(*r.doc, QStringLiteral("b")).fontWeight(), QFont::Bold);
    EXPECT_FALSE(FormatOf(*r.doc, QStringLiteral("b")).fontItalic());
    EXPECT_EQ(FormatOf(*r.doc, QStringLiteral("c")).fontWeight(), QFont::Bold);
    EXPECT_TRUE(FormatOf(*r.doc, QStringLiteral("c")).fontItalic());
    EXPECT_EQ(FormatOf(*r.doc, QStringLiteral("d")).fontWeight(), QFont::Bold);
    EXPECT_FALSE(FormatOf(*r.doc, QStringLiteral("d")).fontItalic());
    EXPECT_EQ(FormatOf(*r.doc, QStringLiteral("e")).fontWeight(), QFont::Normal);
    EXPECT_TRUE(FormatOf(*r.doc, QStringLiteral("u")).fontUnderline());
    EXPECT_FALSE(FormatOf(*r.doc, QStringLiteral("n")).fontUnderline());
    EXPECT_EQ(FormatOf(*r.doc, QStringLiteral("x")).fontWeight(), QFont::Bold);
    EXPECT_EQ(FormatOf(*r.doc, QStringLiteral("y")).fontWeight(), QFont::Normal);
    EXPECT_TRUE(FormatOf(*r.doc, QStringLiteral("s")).fontStrikeOut());
}

TEST(RtfReader, FontSizeColourTableAndPlain) {
    const Read r = ReadRtf(
        "{\\rtf1{\\colortbl;\\red255\\green0\\blue0;\\red0\\green0\\blue128;}"
        "\\fs32 big\\fs20 small\\cf1 red\\cf2 navy\\cf0 auto\\cf9 bad\\b\\fs40 \\plain plain}");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.text, QStringLiteral("bigsmallrednavyautobadplain"));
    EXPECT_DOUBLE_EQ(FormatOf(*r.doc, QStringLiteral("big")).fontPointSize(), 16.0);
    EXPECT_DOUBLE_EQ(FormatOf(*r.doc, QStringLiteral("small")).fontPointSize(), 10.0);
    EXPECT_EQ(FormatOf(*r.doc, QStringLiteral("red")).foreground().color(), QColor(255, 0, 0));
    EXPECT_EQ(FormatOf(*r.doc, QStringLiteral("navy")).foreground().color(), QColor(0, 0, 128));
    EXPECT_FALSE(FormatOf(*r.doc, QStringLiteral("auto")).hasProperty(QTextFormat::ForegroundBrush));
    EXPECT_FALSE(FormatOf(*r.doc, QStringLiteral("bad")).hasProperty(QTextFormat::ForegroundBrush));
    const QTextCharFormat plain = FormatOf(*r.doc, QStringLiteral("plain"));
    EXPECT_EQ(plain.fontWeight(), QFont::Normal);
    EXPECT_FALSE(plain.hasProperty(QTextFormat::FontPointSize));
}

TEST(RtfReader, ParagraphAlignment) {
    const Read r = ReadRtf("{\\rtf1\\pard\\qc Title\\par\\pard left\\par\\qr right}");
    ASSERT_EQ(r.doc->blockCount(), 3);
    EXPECT_EQ(r.doc->findBlockByNumber(0).blockFormat().alignment(), Qt::AlignHCenter);
    EXPECT_EQ(r.doc->findBlockByNumber(1).blockFormat().alignment(), Qt::AlignLeft);
    EXPECT_EQ(r.doc->findBlockByNumber(2).blockFormat().alignment(), Qt::AlignRight);
}

TEST(RtfReader, ParagraphSpacingAndIndents) {
    // Twips: 1440 per inch, 15 per pixel at 96 dots per inch.
    const Read r = ReadRtf("{\\rtf1\\pard\\sb300\\sa150\\li720\\ri30\\fi-360 item\\par\\pard plain}");
    ASSERT_EQ(r.doc->blockCount(), 2);
    const QTextBlockFormat item = r.doc->findBlockByNumber(0).blockFormat();
    EXPECT_DOUBLE_EQ(item.topMargin(), 20.0);
    EXPECT_DOUBLE_EQ(item.bottomMargin(), 10.0);
    EXPECT_DOUBLE_EQ(item.leftMargin(), 48.0);
    EXPECT_DOUBLE_EQ(item.rightMargin(), 2.0);
    EXPECT_DOUBLE_EQ(item.textIndent(), -24.0);
    const QTextBlockFormat plain = r.doc->findBlockByNumber(1).blockFormat();
    EXPECT_DOUBLE_EQ(plain.leftMargin(), 0.0);
    EXPECT_DOUBLE_EQ(plain.textIndent(), 0.0);
}

TEST(RtfReader, SkippedDestinationsLeaveNoText) {
    const QByteArray rtf =
        "{\\rtf1\\ansi\\ansicpg932\\deff0"
        "{\\fonttbl{\\f0\\fnil\\fcharset128 \\'82\\'6c\\'82\\'72 Gothic;}{\\f1 Arial{\\*\\panose 0102};}}"
        "{\\colortbl;\\red1\\green2\\blue3;}"
        "{\\stylesheet{\\s0 Normal;}{\\s1 heading 1;}}"
        "{\\info{\\title Secret title}{\\author someone}}"
        "{\\*\\generator Writer 1.0;}"
        "{\\*\\unknowndest hidden}"
        "{\\pict\\pngblip 89504e47}"
        "{\\header page header}"
        "{\\field{\\*\\fldinst HYPERLINK \"x\"}{\\fldrslt link}}"
        "{\\*\\pn\\pnlvlblt{\\pntxtb\\'81\\'45}}{\\pntext\\'81\\'45\\tab}item"
        "\\bin4 {}} shown}";
    const Read r = ReadRtf(rtf);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.text, QStringLiteral("link・\titemshown"));
}

TEST(RtfReader, UnknownControlWordsAreIgnored) {
    const Read r = ReadRtf("{\\rtf1\\viewkind4\\lang1041\\sl240\\slmult1\\nowidctlpar\\rtlch\\ltrch "
                           "text\\zzzz42 more\\abcdefghijklmnopqrstuvwxyzabcdefghijklmnop x}");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.text, QStringLiteral("textmorex"));
}

TEST(RtfReader, NotAnRtfDocument) {
    const Read plain = ReadRtf("Hello, world");
    EXPECT_FALSE(plain.ok);
    EXPECT_TRUE(plain.text.isEmpty());
    EXPECT_FALSE(ReadRtf("").ok);
    EXPECT_FALSE(ReadRtf("{\\rt").ok);
    EXPECT_FALSE(ReadRtf("{\\pard x}").ok);
    // Leading white space before the document is tolerated.
    EXPECT_TRUE(ReadRtf("\r\n {\\rtf1 ok}").ok);
}

TEST(RtfReader, BrokenInputShowsWhatWasRead) {
    // Unbalanced braces: the text read so far stays.
    Read r = ReadRtf("{\\rtf1 abc{\\b def");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.text, QStringLiteral("abcdef"));
    // Content after the document's own group is not read.
    EXPECT_EQ(ReadRtf("{\\rtf1 a}b}c").text, QStringLiteral("a"));
    EXPECT_EQ(ReadRtf("{\\rtf1 a}}}}").text, QStringLiteral("a"));
    // Truncated escapes.
    EXPECT_EQ(ReadRtf("{\\rtf1\\ansicpg932 x\\'8").text, QStringLiteral("x"));
    EXPECT_EQ(ReadRtf("{\\rtf1 x\\'").text, QStringLiteral("x"));
    EXPECT_EQ(ReadRtf("{\\rtf1 x\\").text, QStringLiteral("x"));
    EXPECT_EQ(ReadRtf("{\\rtf1 x\\'zz}").text, QStringLiteral("xzz"));
    EXPECT_EQ(ReadRtf("{\\rtf1 x\\u").text, QStringLiteral("x"));
    // A lone lead byte at the end of the document.
    EXPECT_EQ(ReadRtf("{\\rtf1\\ansicpg932 a\\'93}").text, QStringLiteral("a\ufffd"));
    // Huge numbers and binary runs past the end.
    EXPECT_EQ(ReadRtf("{\\rtf1\\fs99999999999999999999 a\\uc99999999999 \\u99999999999999 b}").text.left(1),
              QStringLiteral("a"));
    EXPECT_EQ(ReadRtf("{\\rtf1 a\\bin999999999 zz}").text, QStringLiteral("a"));
    EXPECT_EQ(ReadRtf("{\\rtf1 a\\bin-5 zz}").text, QStringLiteral("azz"));
    // A NUL byte in the text does not end the reading.
    const QString withNul = ReadRtf(QByteArray("{\\rtf1 a\0b}", 11)).text;
    EXPECT_TRUE(withNul.startsWith(u'a'));
    EXPECT_TRUE(withNul.endsWith(u'b'));
}

TEST(RtfReader, NestingDepthIsBounded) {
    QByteArray ok = "{\\rtf1 top";
    for (int i = 0; i < CRtfReader::kMaxDepth - 1; ++i) ok += '{';
    ok += "deep";
    EXPECT_TRUE(ReadRtf(ok).ok);
    EXPECT_EQ(ReadRtf(ok).text, QStringLiteral("topdeep"));

    QByteArray deep = "{\\rtf1 top";
    for (int i = 0; i < 100000; ++i) deep += "{\\b ";
    deep += "never";
    const Read r = ReadRtf(deep);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.text, QStringLiteral("top"));
}

TEST(RtfReader, RandomDamageNeverBreaksTheReader) {
    const QByteArray pieces[] = {"{",     "}",     "\\",      "\\'",  "\\'8",   "\\'93\\'fa", "\\u",
                                 "\\u-",  "\\uc",  "\\b",     "\\b0", "\\par",  "\\*",        "\\fonttbl",
                                 "\\bin", "12",    " ",       "x",    "\xff",   "\\colortbl", ";",
                                 "\\red", "\\cf",  "\\fs",    "\\f",  "\\pict", "\\\r\n",     "\\~",
                                 "\\ansicpg", "932", "-", "\\line", "\\'"};
    QRandomGenerator rng(20260201);
    for (int round = 0; round < 2000; ++round) {
        QByteArray doc = "{\\rtf1 ";
        const int n = rng.bounded(1, 60);
        for (int k = 0; k < n; ++k) doc += pieces[rng.bounded(int(std::size(pieces)))];
        QTextDocument d;
        CRtfReader::Read(doc, &d);  // must not crash or hang (sanitizers watch)
        QByteArray bytes = doc;
        for (int k = 0; k < 4 && !bytes.isEmpty(); ++k)
            bytes[rng.bounded(int(bytes.size()))] = char(rng.bounded(256));
        QTextDocument d2;
        CRtfReader::Read(bytes, &d2);
    }
    SUCCEED();
}
