#include "ostable/oscommands.h"

#include "services/appservices.h"
#include "policy/policy.h"
#include "services/settingskeys.h"

namespace ostable {

QString ReadOsSetting(const CAppServices* app) {
    if (!app) return QStringLiteral("WindowsXP");
    return app->GetProfileString(settings::Application(), settings::Os(),
                                 QStringLiteral("WindowsXP"));
}

EOsKind ClassifyOs(const QString& setting) {
    if (setting.compare(u"WindowsXP", Qt::CaseInsensitive) == 0) return EOsKind::WindowsXP;
    if (setting.compare(u"WindowsVista", Qt::CaseInsensitive) == 0) return EOsKind::WindowsVista;
    if (setting.compare(u"Windows7", Qt::CaseInsensitive) == 0) return EOsKind::Windows7;
    if (setting.compare(u"Linux", Qt::CaseInsensitive) == 0) return EOsKind::Linux;
    return EOsKind::Other;
}

QString ShowSubcommand(EOsKind kind) {
    switch (kind) {
        case EOsKind::WindowsXP: return QStringLiteral("show prefixpolicy");
        case EOsKind::WindowsVista:
        case EOsKind::Windows7:
        case EOsKind::Linux: return QStringLiteral("show prefixpolicies");
        case EOsKind::Other: break;
    }
    return {};
}

QString DeleteTemplate(EOsKind kind) {
    return kind == EOsKind::Other ? QString() : QStringLiteral("delete prefixpolicy %s");
}

QString AddTemplate(EOsKind kind) {
    return kind == EOsKind::Other ? QString() : QStringLiteral("add prefixpolicy %s");
}

QString FillTemplate(const QString& commandTemplate, const QString& arguments) {
    // One pass over the template: a "%s" inside the inserted text is not expanded again.
    QString out;
    out.reserve(commandTemplate.size() + arguments.size());
    for (qsizetype i = 0; i < commandTemplate.size(); ++i) {
        if (commandTemplate[i] == u'%' && i + 1 < commandTemplate.size() && commandTemplate[i + 1] == u's') {
            out += arguments;
            ++i;
        } else {
            out += commandTemplate[i];
        }
    }
    return out;
}

bool IsSingleWord(const QString& word) {
    if (word.isEmpty()) return false;
    for (const QChar c : word) {
        if (c == u' ' || c == u'"' || c.isSpace() || IsControlCharacter(c)) return false;
    }
    return true;
}

bool OutputIs(const QString& output, const QString& expected) {
    return output.trimmed().compare(expected, Qt::CaseInsensitive) == 0;
}

}  // namespace ostable
