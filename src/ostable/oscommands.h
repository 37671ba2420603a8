#pragma once
// Command lines for the operating system's policy table, chosen by the "OS" setting
// (section "APPLICATION", default "WindowsXP"), which is read anew for every command.
#include <QString>

class CZarntoolApp;

namespace ostable {

// Which command set the setting selects, compared without regard to case.
enum class EOsKind { WindowsXP, WindowsVista, Windows7, Other };

QString ReadOsSetting(const CZarntoolApp* app);
EOsKind ClassifyOs(const QString& setting);

// The table listing appended to the netsh prefix: "show prefixpolicy" on XP,
// "show prefixpolicies" on Vista and 7, nothing for any other setting.
QString ShowSubcommand(EOsKind kind);

// The per-row templates ("%s" stands for the row's arguments); empty for any other setting,
// so the bare prefix is run.
QString DeleteTemplate(EOsKind kind);
QString AddTemplate(EOsKind kind);

// The template with every "%s" replaced by `arguments`; text inside `arguments` is not looked at.
QString FillTemplate(const QString& commandTemplate, const QString& arguments);

// True when the command's output, trimmed at both ends, equals `expected` without regard to case.
bool OutputIs(const QString& output, const QString& expected);

}  // namespace ostable
