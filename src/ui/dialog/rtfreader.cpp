#include "ui/dialog/rtfreader.h"

#include "ui/dialog/rtfreader_impl.h"

namespace rtfreader {
namespace {

// Control words whose group is a destination the view does not show.
bool IsSkippedDestination(const QByteArray& word) {
    static const char* const kWords[] = {
        "stylesheet", "info",       "pict",        "object",     "objdata",   "header",
        "headerl",    "headerr",    "headerf",     "footer",     "footerl",   "footerr",
        "footerf",    "footnote",   "fldinst",     "themedata",  "colorschememapping",
        "latentstyles", "datastore", "listtable",  "listoverridetable", "rsidtbl",
        "generator",  "xmlnstbl",   "mmathPr",     "pgdsctbl",   "revtbl",    "filetbl",
        "private",    "bkmkstart",  "bkmkend",     "atnid",      "atnauthor", "annotation",
        "comment",    "xe",         "tc",          "txe",        "nonshppict", "shpinst",
        "sp",         "sn",         "sv",          "template",   "buptim",    "creatim",
        "printim",    "revtim",     "author",      "operator",   "title",     "subject",
        "keywords",   "doccomm",    "company",     "category",   "manager",   "hlinkbase",
        "userprops",  "pn",         "listpicture", "blipuid",    "wgrffmtfilter",
        "passwordhash", "panose",   "falt",        "fontemb",    "fontfile",  "ud"};
    for (const char* w : kWords)
        if (word == w) return true;
    return false;
}

// The code page of an RTF character set, as the Windows rich edit control maps it. The default
// character set (1) and unknown ones read in the document's code page.
int CodePageOfCharset(int charset, int documentCodePage) {
    switch (charset) {
        case 0: return 1252;
        case 2: return kSymbolCodePage;
        case 77: return 10000;
        case 128: return 932;
        case 129: return 949;
        case 134: return 936;
        case 136: return 950;
        case 161: return 1253;
        case 162: return 1254;
        case 163: return 1258;
        case 177: return 1255;
        case 178: return 1256;
        case 186: return 1257;
        case 204: return 1251;
        case 222: return 874;
        case 238: return 1250;
        case 255: return 437;
        default: return documentCodePage;
    }
}

}  // namespace

bool Reader::Run() {
    // Leading white space is tolerated; the document itself must open with "{\rtf".
    while (!AtEnd() && (Peek() == ' ' || Peek() == '\r' || Peek() == '\n' || Peek() == '\t'))
        ++m_pos;
    if (!m_data.sliced(m_pos).startsWith("{\\rtf")) return false;

    while (!AtEnd() && !m_done && !m_error) {
        const char c = static_cast<char>(Peek());
        ++m_pos;
        switch (c) {
            case '{':
                OpenGroup();
                continue;
            case '}':
                CloseGroup();
                continue;
            case '\\':
                Control();
                continue;
            case '\r':
            case '\n':
                continue;  // line ends in the file carry no meaning
            default:
                if (SkippingForUnicode()) continue;
                m_groupStart = false;
                if (c == '\t') {
                    AddChar(QLatin1Char('\t'));
                } else {
                    AddByte(c);
                }
                continue;
        }
    }
    FlushText();
    return !m_error;
}

void Reader::Control() {
    if (AtEnd()) {
        m_done = true;  // a lone backslash at the end
        return;
    }
    const unsigned char n = Peek();
    const bool letter = (n >= 'a' && n <= 'z') || (n >= 'A' && n <= 'Z');
    if (!letter) {
        ++m_pos;
        const bool groupStart = m_groupStart;
        m_groupStart = false;
        if (n == '*' && groupStart) {
            m_ignorable = true;
            m_groupStart = true;  // the destination word follows
            return;
        }
        ControlSymbol(static_cast<char>(n));
        return;
    }
    QByteArray word;
    while (!AtEnd()) {
        const unsigned char l = Peek();
        if (!((l >= 'a' && l <= 'z') || (l >= 'A' && l <= 'Z'))) break;
        if (word.size() < 32) word += static_cast<char>(l);
        ++m_pos;
    }
    bool negative = false;
    long long value = 0;
    if (!AtEnd() && Peek() == '-') {
        negative = true;
        ++m_pos;
    }
    int digits = 0;
    while (!AtEnd() && Peek() >= '0' && Peek() <= '9') {
        if (digits < 10) value = value * 10 + (Peek() - '0');
        ++digits;
        ++m_pos;
    }
    if (!AtEnd() && Peek() == ' ') ++m_pos;  // the delimiter belongs to the word
    if (value > 2147483647LL) value = 2147483647LL;
    ControlWord(word, digits > 0, static_cast<int>(negative ? -value : value));
}

bool Reader::SkippingForUnicode() {
    if (m_ucSkip > 0) {
        --m_ucSkip;
        return true;
    }
    return false;
}

void Reader::OpenGroup() {
    FlushText();
    m_ucSkip = 0;
    if (m_stack.size() >= CRtfReader::kMaxDepth) {
        m_error = true;
        return;
    }
    m_stack.append(m_state);
    m_groupStart = true;
    m_ignorable = false;
}

void Reader::CloseGroup() {
    FlushText();
    m_ucSkip = 0;
    m_groupStart = false;
    m_ignorable = false;
    if (m_state.dest == Dest::FontTable) m_tableFont = -1;
    if (m_stack.isEmpty()) {
        m_done = true;  // the document's own group has ended; anything after it is not read
        return;
    }
    m_state = m_stack.takeLast();
    if (m_stack.isEmpty()) m_done = true;
}

void Reader::HexByte() {
    int value = 0;
    for (int k = 0; k < 2; ++k) {
        if (AtEnd()) return;  // truncated escape: nothing
        const unsigned char h = Peek();
        int d;
        if (h >= '0' && h <= '9') d = h - '0';
        else if (h >= 'a' && h <= 'f') d = h - 'a' + 10;
        else if (h >= 'A' && h <= 'F') d = h - 'A' + 10;
        else return;  // not a hex digit: the escape is dropped, the character read normally
        value = value * 16 + d;
        ++m_pos;
    }
    if (SkippingForUnicode()) return;
    if (m_state.dest == Dest::Text) AddByte(static_cast<char>(value));
}

void Reader::ControlSymbol(char symbol) {
    switch (symbol) {
        case '\'':
            HexByte();
            return;
        case '\\':
        case '{':
        case '}':
            if (SkippingForUnicode()) return;
            AddByte(symbol);
            return;
        default: break;
    }
    if (SkippingForUnicode()) return;
    switch (symbol) {
        case '~': AddChar(QChar(0x00A0)); break;
        case '_': AddChar(QChar(0x2011)); break;
        case '\r':
        case '\n': EndParagraph(); break;
        default: break;  // \- \| \: and unknown symbols
    }
}

void Reader::ControlWord(const QByteArray& word, bool hasParam, int param) {
    const bool groupStart = m_groupStart;
    m_groupStart = false;
    if (EscapeWord(word, hasParam, param) || SkippingForUnicode()) return;
    if (groupStart && DestinationWord(word)) return;
    if (m_state.dest == Dest::Skip || TableWord(word, hasParam, param)) return;
    if (DocumentWord(word, hasParam, param) || BreakWord(word)) return;
    if (CharacterWord(word, hasParam, param)) return;
    ParagraphWord(word, hasParam, param);
    // Every other word is ignored.
}

bool Reader::EscapeWord(const QByteArray& word, bool hasParam, int param) {
    // Binary data is skipped wherever it appears; its bytes may look like anything.
    if (word == "bin") {
        const qsizetype n = hasParam && param > 0 ? param : 0;
        m_pos += qMin<qsizetype>(n, m_data.size() - m_pos);
        return true;
    }
    if (word == "u") {
        if (!hasParam) return true;  // not a Unicode escape without its number
        if (m_state.dest == Dest::Text && m_ucSkip == 0) {
            const int unit = param < 0 ? param + 65536 : param;
            AddChar(QChar(static_cast<char16_t>(unit & 0xFFFF)));
        }
        m_ucSkip = m_state.uc;
        return true;
    }
    return false;
}

bool Reader::DestinationWord(const QByteArray& word) {
    // Destinations.
    if (word == "fonttbl") {
        FlushText();
        m_state.dest = Dest::FontTable;
        return true;
    }
    if (word == "colortbl") {
        FlushText();
        m_state.dest = Dest::ColorTable;
        m_colors.clear();
        m_red = m_green = m_blue = -1;
        return true;
    }
    if (m_ignorable || IsSkippedDestination(word)) {
        FlushText();
        m_state.dest = Dest::Skip;
        return true;
    }
    return false;
}

bool Reader::TableWord(const QByteArray& word, bool hasParam, int param) {
    if (m_state.dest == Dest::FontTable) {
        if (word == "f" && hasParam) m_tableFont = param;
        else if (word == "fcharset" && hasParam && m_tableFont >= 0 && !m_fontCodePage.contains(m_tableFont))
            m_fontCodePage.insert(m_tableFont, CodePageOfCharset(param, 0));
        else if (word == "cpg" && hasParam && m_tableFont >= 0)
            m_fontCodePage.insert(m_tableFont, param);
        return true;
    }
    if (m_state.dest == Dest::ColorTable) {
        const int v = qBound(0, param, 255);
        if (word == "red") m_red = v;
        else if (word == "green") m_green = v;
        else if (word == "blue") m_blue = v;
        return true;
    }
    return false;
}

bool Reader::DocumentWord(const QByteArray& word, bool hasParam, int param) {
    // Document code page.
    if (word == "ansicpg" && hasParam) { m_docCodePage = param; return true; }
    if (word == "ansi") { m_docCodePage = 1252; return true; }
    if (word == "mac") { m_docCodePage = 10000; return true; }
    if (word == "pc") { m_docCodePage = 437; return true; }
    if (word == "pca") { m_docCodePage = 850; return true; }
    if (word == "deff" && hasParam) { m_defaultFont = param; return true; }
    if (word == "uc" && hasParam) { m_state.uc = qBound(0, param, 16); return true; }

    return false;
}

bool Reader::BreakWord(const QByteArray& word) {
    // Breaks and special characters.
    if (word == "par" || word == "page" || word == "sect" || word == "row") { EndParagraph(); return true; }
    if (word == "line") { AddChar(QChar::LineSeparator); return true; }
    if (word == "tab" || word == "cell") { AddChar(QLatin1Char('\t')); return true; }
    static const struct { const char* word; char16_t ch; } kChars[] = {
        {"emdash", 0x2014}, {"endash", 0x2013}, {"bullet", 0x2022}, {"lquote", 0x2018},
        {"rquote", 0x2019}, {"ldblquote", 0x201C}, {"rdblquote", 0x201D},
        {"emspace", 0x2003}, {"enspace", 0x2002}, {"qmspace", 0x2005}, {"zwj", 0x200D},
        {"zwnj", 0x200C}, {"ltrmark", 0x200E}, {"rtlmark", 0x200F}};
    for (const auto& k : kChars) {
        if (word == k.word) {
            AddChar(QChar(k.ch));
            return true;
        }
    }

    return false;
}

bool Reader::CharacterWord(const QByteArray& word, bool hasParam, int param) {
    // Character formatting.
    const bool on = !hasParam || param != 0;
    if (word == "b") { SetFormat(m_state.bold, on); return true; }
    if (word == "i") { SetFormat(m_state.italic, on); return true; }
    if (word == "ul" || word == "uld" || word == "uldb" || word == "uldash" || word == "ulw" ||
        word == "ulth" || word == "ulwave") {
        SetFormat(m_state.underline, on);
        return true;
    }
    if (word == "ulnone") { SetFormat(m_state.underline, false); return true; }
    if (word == "strike") { SetFormat(m_state.strike, on); return true; }
    if (word == "fs") { SetFormat(m_state.sizeHalfPoints, hasParam ? qBound(0, param, 3276) : 24); return true; }
    if (word == "cf") { SetFormat(m_state.color, hasParam ? qMax(0, param) : 0); return true; }
    if (word == "f" && hasParam) {
        FlushText();  // the code page may change
        m_state.font = param;
        return true;
    }
    if (word == "plain") {
        FlushText();
        m_state.bold = m_state.italic = m_state.underline = m_state.strike = false;
        m_state.sizeHalfPoints = 0;
        m_state.color = 0;
        m_state.font = m_defaultFont;
        return true;
    }
    return false;
}

void Reader::ParagraphWord(const QByteArray& word, bool hasParam, int param) {
    // Paragraph formatting.
    const int twips = hasParam ? qBound(-31680, param, 31680) : 0;  // at most 22 inches
    if (word == "pard") { SetFormat(m_state.para, Para()); return; }
    if (word == "ql") { SetFormat(m_state.para.align, Qt::Alignment(Qt::AlignLeft)); return; }
    if (word == "qc") { SetFormat(m_state.para.align, Qt::Alignment(Qt::AlignHCenter)); return; }
    if (word == "qr") { SetFormat(m_state.para.align, Qt::Alignment(Qt::AlignRight)); return; }
    if (word == "qj") { SetFormat(m_state.para.align, Qt::Alignment(Qt::AlignJustify)); return; }
    if (word == "sb") { SetFormat(m_state.para.spaceBefore, qMax(0, twips)); return; }
    if (word == "sa") { SetFormat(m_state.para.spaceAfter, qMax(0, twips)); return; }
    if (word == "li") { SetFormat(m_state.para.leftIndent, qMax(0, twips)); return; }
    if (word == "ri") { SetFormat(m_state.para.rightIndent, qMax(0, twips)); return; }
    if (word == "fi") { SetFormat(m_state.para.firstIndent, twips); return; }
}

}  // namespace rtfreader

bool CRtfReader::Read(QByteArrayView rtf, QTextDocument* document) {
    if (!document) return false;
    rtfreader::Reader reader(rtf, document);
    return reader.Run();
}
