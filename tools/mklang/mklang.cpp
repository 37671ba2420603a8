// mklang: builds a language library from the program's own resource set and an overlay.
//
//   mklang <base.json> <overlay.json> <output folder>
//
// The output folder receives lang.json (the base set with the overlay applied) and a copy of
// every icon file the set names, at the same relative path as beside the base set. The overlay
// is a JSON object with the optional members
//   "strings":   { "<id>": "<text>", ... }            replaces strings of the base set
//   "dialogs":   { "<id>": { "caption": "...", "size": [w, h], "font": { "face": "...", "size": n
//   },
//                  "controls": [ { "index": <n>, "text": "...", "rect": [x, y, w, h] }, ... ] } }
//                                                     replaces dialog texts, sizes and fonts
//   "menus":     { "<menu id>": [ <insertion>, ... ] } adds menu items
//   "menuTexts": { "<menu id>": { "popups": [ "...", ... ], "items": { "<item id>": "..." } } }
//                                                     replaces texts of the base menu
//   "complete":  true                                 the overlay translates the whole set
// where an insertion is { "popup": <index>, "before" | "after": <item id> | "at": "start"|"end",
// "items": [ { "id": <n>, "text": "..." } | { "separator": true }, ... ] }.
// A replaced string keeps the base text's placeholders (%1, %2) in the same order. A complete
// overlay gives a text for every string, dialog caption, control text and menu text of the
// base set, so that a text added to the program's set cannot ship untranslated.
// "_comment" members are ignored anywhere. Any other member, an id the base set does not have,
// an unknown menu, popup or anchor, or an item id the menu already has is an error: the tool
// prints every problem and exits with status 1, so a broken overlay fails the build instead of
// shipping a partial library.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>
#include <cstdio>
#include <optional>
#include <stdexcept>

#include "services/resourceset.h"

namespace {

class CError : public std::runtime_error {
public:
    explicit CError(const QString& text) : std::runtime_error(text.toStdString()) {}
};

QJsonObject ReadObject(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw CError(path + QStringLiteral(": ") + file.errorString());
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError)
        throw CError(QStringLiteral("%1: not JSON at offset %2: %3")
                         .arg(path)
                         .arg(error.offset)
                         .arg(error.errorString()));
    if (!doc.isObject()) throw CError(path + QStringLiteral(": the top level is not an object"));
    return doc.object();
}

void RequireOnly(const QJsonObject& o, const QStringList& allowed, const QString& where) {
    for (auto it = o.begin(); it != o.end(); ++it) {
        if (it.key() == u"_comment" || allowed.contains(it.key())) continue;
        throw CError(where + QStringLiteral(": unknown member \"") + it.key() + u'"');
    }
}

int RequireId(const QString& key, const QString& where) {
    bool ok = false;
    const int id = key.toInt(&ok);
    if (!ok) throw CError(where + QStringLiteral(": id is not a number: ") + key);
    return id;
}

void CollectIds(const QJsonArray& items, QList<int>* ids) {
    for (const QJsonValue& v : items) {
        const QJsonObject o = v.toObject();
        if (o.contains(u"id")) ids->append(o.value(u"id").toInt());
        if (o.contains(u"items")) CollectIds(o.value(u"items").toArray(), ids);
    }
}

// The placeholders of a text in order of appearance.
QStringList Placeholders(const QString& text) {
    static const QRegularExpression kPlaceholder(QStringLiteral("%[0-9]"));
    QStringList found;
    for (auto it = kPlaceholder.globalMatch(text); it.hasNext();)
        found.append(it.next().captured());
    return found;
}

QJsonObject MergeStrings(QJsonObject base, const QJsonValue& overlay, QStringList* problems) {
    if (overlay.isUndefined()) return base;
    if (!overlay.isObject()) throw CError(QStringLiteral("overlay: \"strings\" is not an object"));
    const QJsonObject strings = overlay.toObject();
    for (auto it = strings.begin(); it != strings.end(); ++it) {
        if (it.key() == u"_comment") continue;
        RequireId(it.key(), QStringLiteral("overlay strings"));
        if (!it.value().isString())
            throw CError(QStringLiteral("overlay: string %1 is not text").arg(it.key()));
        if (!base.contains(it.key())) {
            problems->append(
                QStringLiteral("string %1: not in the program's resource set").arg(it.key()));
            continue;
        }
        const QStringList want = Placeholders(base.value(it.key()).toString());
        const QStringList have = Placeholders(it.value().toString());
        if (want != have)
            problems->append(QStringLiteral("string %1: placeholders %2 instead of %3")
                                 .arg(it.key(), have.join(u' '), want.join(u' ')));
        base.insert(it.key(), it.value());
    }
    return base;
}

QJsonArray RequireNumbers(const QJsonValue& v, qsizetype count, const QString& where) {
    const QJsonArray a = v.toArray();
    bool ok = v.isArray() && a.size() == count;
    for (const QJsonValue& n : a) ok = ok && n.isDouble() && n.toInt(-1) >= 0;
    if (!ok) throw CError(where + QStringLiteral(": needs %1 non-negative numbers").arg(count));
    return a;
}

QString RequireText(const QJsonValue& v, const QString& where) {
    if (!v.isString()) throw CError(where + QStringLiteral(": text expected"));
    return v.toString();
}

QJsonObject MergeDialogs(QJsonObject dialogs, const QJsonValue& overlay, QStringList* problems) {
    if (overlay.isUndefined()) return dialogs;
    if (!overlay.isObject()) throw CError(QStringLiteral("overlay: \"dialogs\" is not an object"));
    const QJsonObject byId = overlay.toObject();
    for (auto it = byId.begin(); it != byId.end(); ++it) {
        if (it.key() == u"_comment") continue;
        const QString where = QStringLiteral("overlay dialog ") + it.key();
        RequireId(it.key(), where);
        if (!dialogs.value(it.key()).isObject()) {
            problems->append(
                QStringLiteral("dialog %1: not in the program's resource set").arg(it.key()));
            continue;
        }
        if (!it.value().isObject()) throw CError(where + QStringLiteral(": not an object"));
        const QJsonObject change = it.value().toObject();
        RequireOnly(change,
                    {QStringLiteral("caption"), QStringLiteral("size"), QStringLiteral("font"),
                     QStringLiteral("controls")},
                    where);
        QJsonObject dialog = dialogs.value(it.key()).toObject();
        if (change.contains(u"caption"))
            dialog.insert(QStringLiteral("caption"), RequireText(change.value(u"caption"), where));
        if (change.contains(u"size"))
            dialog.insert(QStringLiteral("size"), RequireNumbers(change.value(u"size"), 2, where));
        if (change.contains(u"font")) {
            const QJsonObject font = change.value(u"font").toObject();
            RequireOnly(font, {QStringLiteral("face"), QStringLiteral("size")}, where);
            if (RequireText(font.value(u"face"), where).isEmpty() ||
                font.value(u"size").toInt(0) <= 0)
                throw CError(where + QStringLiteral(": a font needs a face and a size"));
            dialog.insert(QStringLiteral("font"), font);
        }
        QJsonArray controls = dialog.value(u"controls").toArray();
        for (const QJsonValue& cv : change.value(u"controls").toArray()) {
            const QJsonObject c = cv.toObject();
            RequireOnly(c,
                        {QStringLiteral("index"), QStringLiteral("text"), QStringLiteral("rect")},
                        where);
            const int index = c.value(u"index").toInt(-1);
            if (!c.value(u"index").isDouble() || index < 0 || index >= controls.size())
                throw CError(where + QStringLiteral(": no control at index %1").arg(index));
            QJsonObject control = controls[index].toObject();
            if (c.contains(u"text"))
                control.insert(QStringLiteral("text"), RequireText(c.value(u"text"), where));
            if (c.contains(u"rect"))
                control.insert(QStringLiteral("rect"), RequireNumbers(c.value(u"rect"), 4, where));
            controls[index] = control;
        }
        dialog.insert(QStringLiteral("controls"), controls);
        dialogs.insert(it.key(), dialog);
    }
    return dialogs;
}

QJsonArray ReplaceItemTexts(QJsonArray items, QJsonObject* texts) {
    for (qsizetype i = 0; i < items.size(); ++i) {
        QJsonObject item = items[i].toObject();
        const QString key = QString::number(item.value(u"id").toInt());
        if (item.contains(u"id") && texts->contains(key)) {
            item.insert(QStringLiteral("text"), texts->take(key));
        }
        if (item.contains(u"items"))
            item.insert(QStringLiteral("items"),
                        ReplaceItemTexts(item.value(u"items").toArray(), texts));
        items[i] = item;
    }
    return items;
}

QJsonObject MergeMenuTexts(QJsonObject menus, const QJsonValue& overlay) {
    if (overlay.isUndefined()) return menus;
    if (!overlay.isObject())
        throw CError(QStringLiteral("overlay: \"menuTexts\" is not an object"));
    const QJsonObject byId = overlay.toObject();
    for (auto it = byId.begin(); it != byId.end(); ++it) {
        if (it.key() == u"_comment") continue;
        const QString where = QStringLiteral("overlay menu texts ") + it.key();
        RequireId(it.key(), where);
        if (!menus.value(it.key()).isObject())
            throw CError(where + QStringLiteral(": no such menu in the base set"));
        const QJsonObject change = it.value().toObject();
        RequireOnly(change, {QStringLiteral("popups"), QStringLiteral("items")}, where);
        QJsonObject menu = menus.value(it.key()).toObject();
        QJsonArray popups = menu.value(u"popups").toArray();
        const QJsonArray popupTexts = change.value(u"popups").toArray();
        if (popupTexts.size() > popups.size())
            throw CError(where + QStringLiteral(": more popup texts than popups"));
        QJsonObject itemTexts = change.value(u"items").toObject();
        itemTexts.remove(QStringLiteral("_comment"));
        for (qsizetype i = 0; i < popups.size(); ++i) {
            QJsonObject popup = popups[i].toObject();
            if (i < popupTexts.size())
                popup.insert(QStringLiteral("text"), RequireText(popupTexts[i], where));
            popup.insert(QStringLiteral("items"),
                         ReplaceItemTexts(popup.value(u"items").toArray(), &itemTexts));
            popups[i] = popup;
        }
        if (!itemTexts.isEmpty())
            throw CError(where + QStringLiteral(": no item %1 in the menu")
                                     .arg(itemTexts.keys().join(QStringLiteral(", "))));
        menu.insert(QStringLiteral("popups"), popups);
        menus.insert(it.key(), menu);
    }
    return menus;
}

void CollectItemIds(const QJsonArray& items, QStringList* ids) {
    for (const QJsonValue& v : items) {
        const QJsonObject o = v.toObject();
        if (o.contains(u"id")) ids->append(QString::number(o.value(u"id").toInt()));
        CollectItemIds(o.value(u"items").toArray(), ids);
    }
}

// A complete overlay names every text of the base set; whatever it leaves out would show in
// the base set's language.
void RequireComplete(const QJsonObject& base, const QJsonObject& overlay, const QString& language,
                     QStringList* problems) {
    const QString missing = QStringLiteral("no text in the %1 overlay").arg(language);
    const QJsonObject strings = overlay.value(u"strings").toObject();
    const QJsonObject baseStrings = base.value(u"strings").toObject();
    for (auto it = baseStrings.begin(); it != baseStrings.end(); ++it)
        if (!strings.contains(it.key()))
            problems->append(QStringLiteral("string %1: %2 (\"%3\")")
                                 .arg(it.key(), missing, it.value().toString()));

    const QJsonObject dialogs = overlay.value(u"dialogs").toObject();
    const QJsonObject baseDialogs = base.value(u"dialogs").toObject();
    for (auto it = baseDialogs.begin(); it != baseDialogs.end(); ++it) {
        const QJsonObject change = dialogs.value(it.key()).toObject();
        if (!change.contains(u"caption"))
            problems->append(QStringLiteral("dialog %1 caption: %2").arg(it.key(), missing));
        QList<int> given;
        for (const QJsonValue& c : change.value(u"controls").toArray())
            if (c.toObject().contains(u"text")) given.append(c.toObject().value(u"index").toInt());
        const QJsonArray controls = it.value().toObject().value(u"controls").toArray();
        for (qsizetype i = 0; i < controls.size(); ++i) {
            const QString text = controls[i].toObject().value(u"text").toString();
            if (!text.isEmpty() && !given.contains(int(i)))
                problems->append(
                    QStringLiteral("dialog %1 control at index %2 (id %3): %4 (\"%5\")")
                        .arg(it.key())
                        .arg(i)
                        .arg(controls[i].toObject().value(u"id").toInt())
                        .arg(missing, text));
        }
    }

    const QJsonObject menuTexts = overlay.value(u"menuTexts").toObject();
    const QJsonObject baseMenus = base.value(u"menus").toObject();
    for (auto it = baseMenus.begin(); it != baseMenus.end(); ++it) {
        const QJsonObject change = menuTexts.value(it.key()).toObject();
        const QJsonArray popups = it.value().toObject().value(u"popups").toArray();
        if (change.value(u"popups").toArray().size() != popups.size())
            problems->append(QStringLiteral("menu %1 popups: %2").arg(it.key(), missing));
        QStringList ids;
        for (const QJsonValue& p : popups)
            CollectItemIds(p.toObject().value(u"items").toArray(), &ids);
        for (const QString& id : ids)
            if (!change.value(u"items").toObject().contains(id))
                problems->append(QStringLiteral("menu %1 item %2: %3").arg(it.key(), id, missing));
    }
}

QJsonArray CheckedItems(const QJsonValue& value, const QString& where) {
    if (!value.isArray() || value.toArray().isEmpty())
        throw CError(where + QStringLiteral(": \"items\" must be a non-empty list"));
    QJsonArray items;
    for (const QJsonValue& v : value.toArray()) {
        if (!v.isObject()) throw CError(where + QStringLiteral(": an item is not an object"));
        QJsonObject item = v.toObject();
        item.remove(QStringLiteral("_comment"));
        if (item.value(u"separator").toBool(false)) {
            RequireOnly(item, {QStringLiteral("separator")}, where);
        } else {
            RequireOnly(item, {QStringLiteral("id"), QStringLiteral("text")}, where);
            if (!item.value(u"id").isDouble() || item.value(u"id").toInt() <= 0 ||
                !item.value(u"text").isString() || item.value(u"text").toString().isEmpty())
                throw CError(where + QStringLiteral(": an item needs a positive id and a text"));
        }
        items.append(item);
    }
    return items;
}

qsizetype IndexOfItem(const QJsonArray& items, int id) {
    for (qsizetype i = 0; i < items.size(); ++i) {
        const QJsonObject o = items[i].toObject();
        if (o.contains(u"id") && o.value(u"id").toInt() == id) return i;
    }
    return -1;
}

QJsonObject MergeMenus(QJsonObject menus, const QJsonValue& overlay) {
    if (overlay.isUndefined()) return menus;
    if (!overlay.isObject()) throw CError(QStringLiteral("overlay: \"menus\" is not an object"));
    const QJsonObject insertionsById = overlay.toObject();
    for (auto it = insertionsById.begin(); it != insertionsById.end(); ++it) {
        if (it.key() == u"_comment") continue;
        const QString where = QStringLiteral("overlay menu ") + it.key();
        RequireId(it.key(), where);
        if (!menus.value(it.key()).isObject())
            throw CError(where + QStringLiteral(": no such menu in the base set"));
        if (!it.value().isArray())
            throw CError(where + QStringLiteral(": insertions must be a list"));
        QJsonObject menu = menus.value(it.key()).toObject();
        QJsonArray popups = menu.value(u"popups").toArray();
        for (const QJsonValue& iv : it.value().toArray()) {
            if (!iv.isObject())
                throw CError(where + QStringLiteral(": an insertion is not an object"));
            const QJsonObject ins = iv.toObject();
            RequireOnly(ins,
                        {QStringLiteral("popup"), QStringLiteral("before"), QStringLiteral("after"),
                         QStringLiteral("at"), QStringLiteral("items")},
                        where);
            if (!ins.value(u"popup").isDouble())
                throw CError(where + QStringLiteral(": \"popup\" index missing"));
            const int popupIndex = ins.value(u"popup").toInt(-1);
            if (popupIndex < 0 || popupIndex >= popups.size())
                throw CError(where + QStringLiteral(": popup %1 does not exist").arg(popupIndex));
            QJsonObject popup = popups[popupIndex].toObject();
            QJsonArray items = popup.value(u"items").toArray();

            const int anchors = int(ins.contains(u"before")) + int(ins.contains(u"after")) +
                                int(ins.contains(u"at"));
            if (anchors != 1)
                throw CError(where + QStringLiteral(": give exactly one of before, after, at"));
            qsizetype position = -1;
            if (ins.contains(u"at")) {
                const QString at = ins.value(u"at").toString();
                if (at == u"start")
                    position = 0;
                else if (at == u"end")
                    position = items.size();
                else
                    throw CError(where + QStringLiteral(": \"at\" must be start or end"));
            } else {
                const bool before = ins.contains(u"before");
                const int anchor = ins.value(before ? u"before" : u"after").toInt(0);
                const qsizetype index = IndexOfItem(items, anchor);
                if (index < 0)
                    throw CError(where + QStringLiteral(": item %1 not found in popup %2")
                                             .arg(anchor)
                                             .arg(popupIndex));
                position = before ? index : index + 1;
            }

            const QJsonArray added = CheckedItems(ins.value(u"items"), where);
            QList<int> existing;
            for (const QJsonValue& p : popups)
                CollectIds(p.toObject().value(u"items").toArray(), &existing);
            for (const QJsonValue& a : added) {
                const QJsonObject o = a.toObject();
                if (!o.contains(u"id")) continue;
                const int id = o.value(u"id").toInt();
                if (existing.contains(id))
                    throw CError(where +
                                 QStringLiteral(": item %1 is already in the menu").arg(id));
                existing.append(id);
            }
            for (const QJsonValue& a : added) items.insert(position++, a);
            popup.insert(QStringLiteral("items"), items);
            popups[popupIndex] = popup;
        }
        menu.insert(QStringLiteral("popups"), popups);
        menus.insert(it.key(), menu);
    }
    return menus;
}

// Icon paths must stay inside the set's folder.
QString SafeRelative(const QString& path) {
    const QString clean = QDir::cleanPath(path);
    if (clean.isEmpty() || QDir::isAbsolutePath(clean) || clean == u".." ||
        clean.startsWith(QStringLiteral("../")))
        throw CError(QStringLiteral("icon path leaves the language folder: ") + path);
    return clean;
}

void CopyIcons(const QJsonObject& icons, const QString& baseDir, const QString& outDir) {
    for (auto it = icons.begin(); it != icons.end(); ++it) {
        const QString relative = SafeRelative(it.value().toString());
        const QString from = baseDir + u'/' + relative;
        const QString to = outDir + u'/' + relative;
        QFile source(from);
        if (!source.open(QIODevice::ReadOnly))
            throw CError(
                QStringLiteral("icon %1: %2: %3").arg(it.key(), from, source.errorString()));
        const QByteArray bytes = source.readAll();
        QDir().mkpath(QFileInfo(to).absolutePath());
        QSaveFile target(to);
        if (!target.open(QIODevice::WriteOnly) || target.write(bytes) != bytes.size() ||
            !target.commit())
            throw CError(QStringLiteral("icon %1: cannot write %2").arg(it.key(), to));
    }
}

void Build(const QString& basePath, const QString& overlayPath, const QString& outDir) {
    const QJsonObject base = ReadObject(basePath);
    QJsonObject set = base;
    const QJsonObject overlay = ReadObject(overlayPath);
    RequireOnly(overlay,
                {QStringLiteral("strings"), QStringLiteral("dialogs"), QStringLiteral("menus"),
                 QStringLiteral("menuTexts"), QStringLiteral("complete")},
                QStringLiteral("overlay"));

    QStringList problems;
    set.insert(QStringLiteral("strings"), MergeStrings(set.value(u"strings").toObject(),
                                                       overlay.value(u"strings"), &problems));
    set.insert(QStringLiteral("dialogs"), MergeDialogs(set.value(u"dialogs").toObject(),
                                                       overlay.value(u"dialogs"), &problems));
    set.insert(QStringLiteral("menus"), MergeMenus(MergeMenuTexts(set.value(u"menus").toObject(),
                                                                  overlay.value(u"menuTexts")),
                                                   overlay.value(u"menus")));
    if (overlay.value(u"complete").toBool(false))
        RequireComplete(base, overlay, QFileInfo(overlayPath).absoluteDir().dirName(), &problems);
    if (!problems.isEmpty())
        throw CError(QStringLiteral("%1 does not match %2 (problems: %3):\n  ")
                         .arg(overlayPath, basePath)
                         .arg(problems.size()) +
                     problems.join(QStringLiteral("\n  ")));

    if (!QDir().mkpath(outDir)) throw CError(QStringLiteral("cannot create ") + outDir);
    CopyIcons(set.value(u"icons").toObject(), QFileInfo(basePath).absolutePath(), outDir);

    const QString outPath = outDir + QStringLiteral("/lang.json");
    const QByteArray json = QJsonDocument(set).toJson(QJsonDocument::Indented);
    QSaveFile out(outPath);
    if (!out.open(QIODevice::WriteOnly) || out.write(json) != json.size() || !out.commit())
        throw CError(QStringLiteral("cannot write ") + outPath);

    // What the program will load must load.
    CResourceSet check;
    QString reason;
    if (check.Load(outPath, &reason) != CResourceSet::LoadStatus::Loaded)
        throw CError(outPath + QStringLiteral(" does not load: ") + reason);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4) {
        std::fprintf(stderr, "usage: mklang <base.json> <overlay.json> <output folder>\n");
        return 2;
    }
    try {
        Build(args[1], args[2], args[3]);
    } catch (const CError& e) {
        std::fprintf(stderr, "mklang: %s\n", e.what());
        return 1;
    }
    return 0;
}
