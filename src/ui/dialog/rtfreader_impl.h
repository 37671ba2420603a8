#pragma once
// The RTF reader's state and its reader class, shared by the two files that implement it:
// rtfreader.cpp reads the syntax (groups, control words and symbols, the tables), rtftext.cpp
// turns the text read into the document (code pages, formats, paragraphs).
#include <QByteArray>
#include <QByteArrayView>
#include <QColor>
#include <QHash>
#include <QList>
#include <QStringDecoder>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <memory>
#include <unordered_map>

namespace rtfreader {

enum class Dest { Text, Skip, FontTable, ColorTable };

// Paragraph formatting; distances in twips.
struct Para {
    Qt::Alignment align = Qt::AlignLeft;
    int spaceBefore = 0;
    int spaceAfter = 0;
    int leftIndent = 0;
    int rightIndent = 0;
    int firstIndent = 0;
    bool operator==(const Para&) const = default;
};

struct State {
    Dest dest = Dest::Text;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
    int sizeHalfPoints = 0;  // 0: the view's own size
    int color = 0;
    int font = -1;
    int uc = 1;
    Para para;
};

// Code page of the symbol character set: each byte names a glyph of the font itself.
constexpr int kSymbolCodePage = 42;

class Reader {
public:
    Reader(QByteArrayView data, QTextDocument* doc) : m_data(data), m_cursor(doc) {
        m_cursor.movePosition(QTextCursor::End);
        m_blockFormat = m_cursor.blockFormat();
        m_blockPara.align = m_blockFormat.alignment();
    }

    bool Run();

private:
    // Input.
    bool AtEnd() const { return m_pos >= m_data.size(); }
    unsigned char Peek() const { return static_cast<unsigned char>(m_data[m_pos]); }

    // Output.
    void AddByte(char byte);
    void AddChar(QChar c);
    void FlushBytes();
    void FlushText();
    void EndParagraph();
    QTextCharFormat CharFormat() const;
    QString Decode(const QByteArray& bytes, int codePage);
    int CurrentCodePage() const;

    void OpenGroup();
    void CloseGroup();
    // A backslash was read: a control symbol, or a control word with its parameter.
    void Control();
    void ControlWord(const QByteArray& word, bool hasParam, int param);
    // Changes one formatting field; text so far keeps the old formatting.
    template <class Field, class Value>
    void SetFormat(Field& field, Value value) {
        if (field != value) {
            FlushText();
            field = value;
        }
    }
    // The kinds of control words; each returns true when it took the word.
    bool EscapeWord(const QByteArray& word, bool hasParam, int param);  // \bin, \u
    bool DestinationWord(const QByteArray& word);  // first word of a group
    bool TableWord(const QByteArray& word, bool hasParam, int param);  // font and colour tables
    bool DocumentWord(const QByteArray& word, bool hasParam, int param);
    bool BreakWord(const QByteArray& word);  // breaks and special characters
    bool CharacterWord(const QByteArray& word, bool hasParam, int param);
    void ParagraphWord(const QByteArray& word, bool hasParam, int param);
    void ControlSymbol(char symbol);
    void HexByte();
    bool SkippingForUnicode();

    QByteArrayView m_data;
    qsizetype m_pos = 0;
    QTextCursor m_cursor;
    QTextBlockFormat m_blockFormat;
    Para m_blockPara;  // what the current block was given
    void ApplyPara();

    State m_state;
    QList<State> m_stack;
    bool m_groupStart = false;  // the last token opened a group
    bool m_ignorable = false;   // \* seen at the start of this group
    int m_ucSkip = 0;           // characters still to skip after \uN
    bool m_error = false;
    bool m_done = false;

    QByteArray m_bytes;  // 8-bit text waiting to be decoded
    QString m_text;      // decoded text waiting to be inserted

    int m_docCodePage = 1252;
    int m_defaultFont = -1;
    QHash<int, int> m_fontCodePage;
    int m_tableFont = -1;  // font being described in the font table
    QList<QColor> m_colors;
    int m_red = -1, m_green = -1, m_blue = -1;
    std::unordered_map<int, std::unique_ptr<QStringDecoder>> m_decoders;
};

}  // namespace rtfreader
