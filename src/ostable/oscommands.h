#pragma once
// Command lines for the operating system's policy table, chosen by the "OS" setting
// (section "APPLICATION", default "WindowsXP"), which is read anew for every command.
#include <QString>

#include "policy/policy.h"

class CAppLog;
class CAppServices;

namespace ostable {

// Which command set the setting selects, compared without regard to case.
// Linux takes the Windows 7 commands (the stand-in netsh speaks them over the system's own
// table) but divides nothing: glibc's and the kernel's tables take prefixes of any length.
enum class EOsKind { WindowsXP, WindowsVista, Windows7, Linux, Other };

QString ReadOsSetting(const CAppServices* app);
EOsKind ClassifyOs(const QString& setting);

// The table listing appended to the netsh prefix: "show prefixpolicy" on XP,
// "show prefixpolicies" on Vista, 7 and Linux, nothing for any other setting.
QString ShowSubcommand(EOsKind kind);

// The per-row templates ("%s" stands for the row's arguments); empty for any other setting,
// so the bare prefix is run.
QString DeleteTemplate(EOsKind kind);
QString AddTemplate(EOsKind kind);

// The template with every "%s" replaced by `arguments`; text inside `arguments` is not looked at.
QString FillTemplate(const QString& commandTemplate, const QString& arguments);

// True when `word` stays exactly one word on a command line: not empty, and without a blank,
// tab, quote or control character, which the command runner would split at or group by.
bool IsSingleWord(const QString& word);

// True when the command's output, trimmed at both ends, equals `expected` without regard to case.
bool OutputIs(const QString& output, const QString& expected);

// Appends `row` to `result`; on Vista and 7 a prefix whose length n is not a multiple of 8 is
// appended as the 2^(N-n) prefixes of length N, the next multiple of 8, in ascending order of
// the inserted bits. A row without "/" or whose address cannot be read is left out; a length
// outside 0 to 128 is appended undivided.
void DivideRow(CAppLog& log, const CPolicy& row, CPolicyList& result);

}  // namespace ostable
