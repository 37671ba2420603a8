// mkids <zarntool.json> <ids.h>: writes the header of named resource ids from the "names"
// section of the program's resource set, so that code says strid::kApplyDone, never 404, and
// IDC_SAVE, never 1002.
// Every string must have a name; every name must be a C++ identifier, unique in its kind, and
// name an id the set has. The header is rewritten only when its text changes.
#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <cstdio>

namespace {

// Ids present in the set, per kind of name.
QSet<QString> IdsOf(const QJsonObject& set, const QString& kind);

void CollectItemIds(const QJsonArray& items, QSet<QString>* ids) {
    for (const QJsonValue& v : items) {
        const QJsonObject o = v.toObject();
        if (o.contains(u"id")) ids->insert(QString::number(o.value(u"id").toInt()));
        CollectItemIds(o.value(u"items").toArray(), ids);
    }
}

QSet<QString> IdsOf(const QJsonObject& set, const QString& kind) {
    QSet<QString> ids;
    if (kind == u"controls") {
        for (const QJsonValue& dlg : set.value(u"dialogs").toObject())
            for (const QJsonValue& c : dlg.toObject().value(u"controls").toArray())
                ids.insert(QString::number(c.toObject().value(u"id").toInt(-1)));
    } else if (kind == u"commands") {
        for (const QJsonValue& menu : set.value(u"menus").toObject())
            CollectItemIds(menu.toObject().value(u"popups").toArray(), &ids);
        for (const QJsonValue& table : set.value(u"accelerators").toObject())
            for (const QJsonValue& a : table.toArray())
                ids.insert(QString::number(a.toObject().value(u"command").toInt()));
    } else {
        const QStringList keys = set.value(kind).toObject().keys();
        ids = QSet<QString>(keys.begin(), keys.end());
    }
    return ids;
}

// Strings are written as strid::k<Name>; the other kinds under the Windows resource names
// they are given (IDD_, IDC_, ID_, IDR_, IDI_), which the windows and their tests use.
const QStringList kKinds = {QStringLiteral("strings"),  QStringLiteral("dialogs"),
                            QStringLiteral("controls"), QStringLiteral("commands"),
                            QStringLiteral("menus"),    QStringLiteral("accelerators"),
                            QStringLiteral("icons")};

QString Declarations(const QJsonObject& set, const QString& kind, QStringList* problems) {
    static const QRegularExpression stringName(QStringLiteral("^[A-Z][A-Za-z0-9]*$"));
    static const QRegularExpression resourceName(QStringLiteral("^ID[A-Z]?_[A-Z0-9_]+$"));
    const bool strings = kind == u"strings";
    const QJsonObject names = set.value(u"names").toObject().value(kind).toObject();
    // Commands may come from a language library's own menu items, so they are not checked
    // against the program's set.
    const bool checked = kind != u"commands";
    const QSet<QString> ids = IdsOf(set, kind);
    QSet<QString> seen;
    QString out = QStringLiteral("// %1\n").arg(kind);
    if (strings) out += QStringLiteral("namespace strid {\n");
    for (auto it = names.begin(); it != names.end(); ++it) {
        const QString name = it.value().toString();
        if (!(strings ? stringName : resourceName).match(name).hasMatch())
            problems->append(
                QStringLiteral("%1 %2: \"%3\" is not a name").arg(kind, it.key(), name));
        if (seen.contains(name))
            problems->append(QStringLiteral("%1: %2 named twice").arg(kind, name));
        if (checked && !ids.contains(it.key()))
            problems->append(
                QStringLiteral("%1 %2 (%3) is not in the set").arg(kind, it.key(), name));
        seen.insert(name);
        out += QStringLiteral("inline constexpr int %1%2 = %3;\n")
                   .arg(strings ? QStringLiteral("k") : QString(), name, it.key());
    }
    if (strings) {
        for (const QString& id : ids)
            if (!names.contains(id))
                problems->append(QStringLiteral("string %1 has no name").arg(id));
        out += QStringLiteral("}  // namespace strid\n");
    }
    return out + u'\n';
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: mkids <zarntool.json> <ids.h>\n");
        return 2;
    }
    QFile in(args[1]);
    QJsonParseError error{};
    const QJsonDocument doc = in.open(QIODevice::ReadOnly)
                                  ? QJsonDocument::fromJson(in.readAll(), &error)
                                  : QJsonDocument();
    if (!doc.isObject()) {
        std::fprintf(stderr, "mkids: %s is not a resource set\n", qPrintable(args[1]));
        return 1;
    }
    QStringList problems;
    QString header = QStringLiteral(
        "#pragma once\n// Named ids of the program's resource set, written by mkids from "
        "res/zarntool.json.\n\n");
    for (const QString& kind : kKinds) header += Declarations(doc.object(), kind, &problems);
    if (!problems.isEmpty()) {
        std::fprintf(stderr, "mkids: %s:\n  %s\n", qPrintable(args[1]),
                     qPrintable(problems.join(QStringLiteral("\n  "))));
        return 1;
    }
    const QByteArray bytes = header.toUtf8();
    QFile old(args[2]);
    if (old.open(QIODevice::ReadOnly) && old.readAll() == bytes) return 0;
    old.close();
    QSaveFile out(args[2]);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit()) {
        std::fprintf(stderr, "mkids: cannot write %s\n", qPrintable(args[2]));
        return 1;
    }
    return 0;
}
