#pragma once
// One row of the IPv6 prefix-policy table as the program handles it, with its validators,
// prefix helpers and text forms (policy table file line, HTTP body line).
#include <QList>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>

class CAppServices;

// A validation failure: message id, its text (placeholders not filled) and message kind.
struct ErrorInfo {
    int nId = 0;
    QString csText;
    int nKind = 0;
};

// Fills an ErrorInfo for a string id with kind LOG_ERROR.
ErrorInfo MakeError(int id);

// True for a character that must never be part of a field: C0 controls, DEL, NEL and the
// Unicode line and paragraph separators. Any of them would split a line of the policy table
// file or a command line.
bool IsControlCharacter(QChar c);

// Splits at the first character of `separator`. Empty fields are kept except a trailing one;
// an empty text gives no field. Nothing is trimmed.
QStringList SplitString(const QString& text, const QString& separator);

using IPv6Bytes = std::array<std::uint8_t, 16>;

class CPolicy {
public:
    CPolicy();
    CPolicy(const CPolicy& other);             // copies everything but m_stError
    CPolicy& operator=(const CPolicy& other);  // likewise
    ~CPolicy() = default;

    int SetAndValidNetworkName(const QString& text);
    int SetAndValidLabel(const QString& text);
    int SetAndValidPriority(const QString& text);
    int SetAndValidAddress(const QString& text);
    int SetAddress(const QString& text);
    void SetError(const ErrorInfo& error);
    int CheckNumber(const QString& text);

    // Checks a row whose texts came from outside the editor (the policy table file, a server,
    // the system's listing, or a row about to be registered) with the editor's rules: label,
    // priority and address as their validators take them, and no control character in any
    // field. On success the texts are the validators' trimmed forms; on failure m_stError holds
    // the message and `fieldId`, when given, the string id of the field's column name (200 to
    // 203).
    int ValidateFields(int* fieldId = nullptr);

    int GetPrefixLen() const;
    int GetPrefix(IPv6Bytes& out) const;
    QString FixAddress(const QString& address) const;

    QString GetStringCsv() const;
    // 1 when the line is well formed and the row was set; 0, the row unchanged, otherwise.
    int SetStringCsv(const QString& line);
    void SetStringHttp(const QString& line);

    // A row starts switched off: a row made from input that a reader rejects is never
    // installed by accident.
    bool m_bDisabled = true;
    int m_nSource = 0;  // 0 entered in the main window, 1 network, 2 operating system
    QString m_csNetworkName;
    QString m_csLabel;
    QString m_csPriority;
    QString m_csAddress;
    CAppServices* m_pApp = nullptr;
    ErrorInfo m_stError;
};

// The policy list: an ordered list of rows; appending copies the row.
using CPolicyList = QList<CPolicy>;
