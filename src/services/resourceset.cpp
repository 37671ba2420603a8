#include "services/resourceset.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cerrno>
#include <cstring>

#include "platform/fileutil.h"

namespace {

// Reads the numeric id of a JSON key; false for anything that is not a whole number.
bool ParseId(const QString& key, int* id) {
    bool ok = false;
    *id = key.toInt(&ok);
    return ok;
}

bool ReadRect(const QJsonValue& v, QRect* rect) {
    const QJsonArray a = v.toArray();
    if (!v.isArray() || a.size() != 4) return false;
    for (const QJsonValue& n : a)
        if (!n.isDouble()) return false;
    *rect = QRect(a[0].toInt(), a[1].toInt(), a[2].toInt(), a[3].toInt());
    return true;
}

// A list of flag words; absent means none. False when present but not a list of texts.
bool ReadWords(const QJsonValue& v, QStringList* words) {
    words->clear();
    if (v.isUndefined()) return true;
    if (!v.isArray()) return false;
    for (const QJsonValue& w : v.toArray()) {
        if (!w.isString()) return false;
        *words << w.toString();
    }
    return true;
}

bool ReadMenuItems(const QJsonArray& array, QList<CMenuItem>* items, QString* error, int depth) {
    if (depth > 8) {
        *error = QStringLiteral("menu nested too deeply");
        return false;
    }
    for (const QJsonValue& v : array) {
        if (!v.isObject()) {
            *error = QStringLiteral("menu item is not an object");
            return false;
        }
        const QJsonObject o = v.toObject();
        CMenuItem item;
        item.separator = o.value(u"separator").toBool(false);
        item.text = o.value(u"text").toString();
        item.id = o.value(u"id").toInt(0);
        if (o.contains(u"items")) {
            if (!o.value(u"items").isArray()) {
                *error = QStringLiteral("popup items are not a list");
                return false;
            }
            if (!ReadMenuItems(o.value(u"items").toArray(), &item.items, error, depth + 1))
                return false;
        } else if (!item.separator && !o.value(u"id").isDouble()) {
            *error = QStringLiteral("menu item without id");
            return false;
        }
        items->append(item);
    }
    return true;
}

}  // namespace

const CDialogControl* CDialogTemplate::Control(int controlId) const {
    for (const CDialogControl& c : controls)
        if (c.id == controlId) return &c;
    return nullptr;
}

CResourceSet::LoadStatus CResourceSet::Load(const QString& path, QString* reason) {
    *this = CResourceSet();
    QFileInfo info(path);
    if (!info.exists() || info.isDir()) {
        if (reason) *reason = QStringLiteral("file not found: ") + path;
        return LoadStatus::NotFound;
    }
    // A file on disk is opened without blocking: a FIFO or a device in its place is refused at
    // once. The program's own set is built in (a ":/" path).
    QFile file;
    if (path.startsWith(u':')) file.setFileName(path);
    if (path.startsWith(u':') ? !file.open(QIODevice::ReadOnly)
                              : !platform::OpenRegularForReading(file, path)) {
        if (reason)
            *reason = QStringLiteral("cannot open: ") + QString::fromLocal8Bit(std::strerror(errno));
        return LoadStatus::NotLoadable;
    }
    // A resource set is small; anything far larger is not one.
    constexpr qint64 kMaxSize = 16 * 1024 * 1024;
    if (file.size() > kMaxSize) {
        if (reason) *reason = QStringLiteral("file too large");
        return LoadStatus::NotLoadable;
    }
    const QByteArray json = file.read(kMaxSize + 1);
    return LoadFromJson(json, info.absolutePath(), reason);
}

CResourceSet::LoadStatus CResourceSet::LoadFromJson(const QByteArray& json, const QString& baseDir,
                                                    QString* reason) {
    *this = CResourceSet();
    auto fail = [&](const QString& why) {
        *this = CResourceSet();
        if (reason) *reason = why;
        return LoadStatus::NotLoadable;
    };

    QJsonParseError parseError{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return fail(QStringLiteral("not JSON at offset %1: %2")
                        .arg(parseError.offset)
                        .arg(parseError.errorString()));
    if (!doc.isObject()) return fail(QStringLiteral("not a resource set: top level is no object"));
    const QJsonObject root = doc.object();
    if (!root.value(u"strings").isObject())
        return fail(QStringLiteral("not a resource set: no \"strings\" object"));

    const QJsonObject strings = root.value(u"strings").toObject();
    for (auto it = strings.begin(); it != strings.end(); ++it) {
        int id = 0;
        if (!ParseId(it.key(), &id)) return fail(QStringLiteral("string id is not a number: ") + it.key());
        if (!it.value().isString()) return fail(QStringLiteral("string %1 is not text").arg(id));
        m_strings.insert(id, it.value().toString());
    }

    const QJsonValue dialogsValue = root.value(u"dialogs");
    if (!dialogsValue.isUndefined() && !dialogsValue.isObject())
        return fail(QStringLiteral("\"dialogs\" is not an object"));
    const QJsonObject dialogs = dialogsValue.toObject();
    for (auto it = dialogs.begin(); it != dialogs.end(); ++it) {
        CDialogTemplate dlg;
        if (!ParseId(it.key(), &dlg.id)) return fail(QStringLiteral("dialog id is not a number: ") + it.key());
        if (!it.value().isObject()) return fail(QStringLiteral("dialog %1 is not an object").arg(dlg.id));
        const QJsonObject o = it.value().toObject();
        dlg.caption = o.value(u"caption").toString();
        const QJsonArray size = o.value(u"size").toArray();
        if (size.size() != 2 || !size[0].isDouble() || !size[1].isDouble())
            return fail(QStringLiteral("dialog %1 has no size").arg(dlg.id));
        dlg.size = QSize(size[0].toInt(), size[1].toInt());
        const QJsonObject font = o.value(u"font").toObject();
        dlg.fontFace = font.value(u"face").toString(QStringLiteral("MS Shell Dlg"));
        dlg.fontPoints = font.value(u"size").toInt(8);
        if (!ReadWords(o.value(u"frame"), &dlg.frame))
            return fail(QStringLiteral("dialog %1: frame is not a list of words").arg(dlg.id));
        dlg.menuId = o.value(u"menu").toInt(0);
        const QJsonValue controls = o.value(u"controls");
        if (!controls.isUndefined() && !controls.isArray())
            return fail(QStringLiteral("dialog %1: controls is not a list").arg(dlg.id));
        for (const QJsonValue& cv : controls.toArray()) {
            if (!cv.isObject())
                return fail(QStringLiteral("dialog %1: a control is not an object").arg(dlg.id));
            const QJsonObject c = cv.toObject();
            CDialogControl control;
            control.id = c.value(u"id").toInt(-1);
            control.kind = c.value(u"kind").toString();
            if (control.kind.isEmpty())
                return fail(QStringLiteral("dialog %1: control without kind").arg(dlg.id));
            if (!ReadRect(c.value(u"rect"), &control.rect))
                return fail(QStringLiteral("dialog %1: control %2 has no rectangle")
                                .arg(dlg.id)
                                .arg(control.id));
            control.text = c.value(u"text").toString();
            if (!ReadWords(c.value(u"style"), &control.style))
                return fail(QStringLiteral("dialog %1: control %2 has a bad style list")
                                .arg(dlg.id)
                                .arg(control.id));
            dlg.controls.append(control);
        }
        m_dialogs.insert(dlg.id, dlg);
    }

    const QJsonValue menusValue = root.value(u"menus");
    if (!menusValue.isUndefined() && !menusValue.isObject())
        return fail(QStringLiteral("\"menus\" is not an object"));
    const QJsonObject menus = menusValue.toObject();
    for (auto it = menus.begin(); it != menus.end(); ++it) {
        int id = 0;
        if (!ParseId(it.key(), &id)) return fail(QStringLiteral("menu id is not a number: ") + it.key());
        CMenuTemplate menu;
        QString error;
        if (!it.value().isObject() || !it.value().toObject().value(u"popups").isArray())
            return fail(QStringLiteral("menu %1 has no list of popups").arg(id));
        if (!ReadMenuItems(it.value().toObject().value(u"popups").toArray(), &menu.popups, &error, 0))
            return fail(QStringLiteral("menu %1: %2").arg(id).arg(error));
        m_menus.insert(id, menu);
    }

    const QJsonValue accelValue = root.value(u"accelerators");
    if (!accelValue.isUndefined() && !accelValue.isObject())
        return fail(QStringLiteral("\"accelerators\" is not an object"));
    const QJsonObject accels = accelValue.toObject();
    for (auto it = accels.begin(); it != accels.end(); ++it) {
        int id = 0;
        if (!ParseId(it.key(), &id)) return fail(QStringLiteral("accelerator id is not a number: ") + it.key());
        QList<CAccelerator> table;
        if (!it.value().isArray())
            return fail(QStringLiteral("accelerator table %1 is not a list").arg(id));
        for (const QJsonValue& v : it.value().toArray()) {
            const QJsonObject o = v.toObject();
            CAccelerator a;
            a.key = o.value(u"key").toString();
            if (!ReadWords(o.value(u"modifiers"), &a.modifiers))
                return fail(QStringLiteral("accelerator table %1: bad modifiers").arg(id));
            a.command = o.value(u"command").toInt(0);
            if (a.key.isEmpty() || a.command == 0)
                return fail(QStringLiteral("accelerator table %1: incomplete entry").arg(id));
            table.append(a);
        }
        m_accelerators.insert(id, table);
    }

    const QJsonValue iconsValue = root.value(u"icons");
    if (!iconsValue.isUndefined() && !iconsValue.isObject())
        return fail(QStringLiteral("\"icons\" is not an object"));
    const QJsonObject icons = iconsValue.toObject();
    for (auto it = icons.begin(); it != icons.end(); ++it) {
        int id = 0;
        if (!ParseId(it.key(), &id)) return fail(QStringLiteral("icon id is not a number: ") + it.key());
        const QString file = it.value().toString();
        if (file.isEmpty()) return fail(QStringLiteral("icon %1 has no file").arg(id));
        m_icons.insert(id, baseDir + u'/' + file);
    }

    m_loaded = true;
    return LoadStatus::Loaded;
}

QList<int> CResourceSet::StringIds() const {
    QList<int> ids = m_strings.keys();
    std::sort(ids.begin(), ids.end());
    return ids;
}

const CDialogTemplate* CResourceSet::Dialog(int id) const {
    auto it = m_dialogs.constFind(id);
    return it == m_dialogs.cend() ? nullptr : &it.value();
}

const CMenuTemplate* CResourceSet::Menu(int id) const {
    auto it = m_menus.constFind(id);
    return it == m_menus.cend() ? nullptr : &it.value();
}

const CResourceSet& CResourceSet::ProgramSet() {
    static const CResourceSet set = [] {
        CResourceSet s;
        s.Load(ProgramSetPath());
        return s;
    }();
    return set;
}
