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

namespace {

// Each reader below fills its part from one section of the document and returns why the
// section is not a resource set's, or an empty text.

// The value of `key` in `root`, which may be absent (an empty object) but must be an object.
QString SectionObject(const QJsonObject& root, QStringView key, QJsonObject* section) {
    const QJsonValue value = root.value(key);
    if (!value.isUndefined() && !value.isObject())
        return QStringLiteral("\"%1\" is not an object").arg(key);
    *section = value.toObject();
    return {};
}

QString ReadStrings(const QJsonObject& strings, QHash<int, QString>* out) {
    for (auto it = strings.begin(); it != strings.end(); ++it) {
        int id = 0;
        if (!ParseId(it.key(), &id)) return QStringLiteral("string id is not a number: ") + it.key();
        if (!it.value().isString()) return QStringLiteral("string %1 is not text").arg(id);
        out->insert(id, it.value().toString());
    }
    return {};
}

QString ReadControl(const QJsonValue& cv, int dialogId, CDialogControl* control) {
    if (!cv.isObject()) return QStringLiteral("dialog %1: a control is not an object").arg(dialogId);
    const QJsonObject c = cv.toObject();
    control->id = c.value(u"id").toInt(-1);
    control->kind = c.value(u"kind").toString();
    if (control->kind.isEmpty()) return QStringLiteral("dialog %1: control without kind").arg(dialogId);
    if (!ReadRect(c.value(u"rect"), &control->rect))
        return QStringLiteral("dialog %1: control %2 has no rectangle").arg(dialogId).arg(control->id);
    control->text = c.value(u"text").toString();
    if (!ReadWords(c.value(u"style"), &control->style))
        return QStringLiteral("dialog %1: control %2 has a bad style list")
            .arg(dialogId)
            .arg(control->id);
    return {};
}

QString ReadDialog(const QJsonObject& o, CDialogTemplate* dlg) {
    dlg->caption = o.value(u"caption").toString();
    const QJsonArray size = o.value(u"size").toArray();
    if (size.size() != 2 || !size[0].isDouble() || !size[1].isDouble())
        return QStringLiteral("dialog %1 has no size").arg(dlg->id);
    dlg->size = QSize(size[0].toInt(), size[1].toInt());
    const QJsonObject font = o.value(u"font").toObject();
    dlg->fontFace = font.value(u"face").toString(QStringLiteral("MS Shell Dlg"));
    dlg->fontPoints = font.value(u"size").toInt(8);
    if (!ReadWords(o.value(u"frame"), &dlg->frame))
        return QStringLiteral("dialog %1: frame is not a list of words").arg(dlg->id);
    dlg->menuId = o.value(u"menu").toInt(0);
    const QJsonValue controls = o.value(u"controls");
    if (!controls.isUndefined() && !controls.isArray())
        return QStringLiteral("dialog %1: controls is not a list").arg(dlg->id);
    for (const QJsonValue& cv : controls.toArray()) {
        CDialogControl control;
        if (QString why = ReadControl(cv, dlg->id, &control); !why.isEmpty()) return why;
        dlg->controls.append(control);
    }
    return {};
}

QString ReadDialogs(const QJsonObject& dialogs, QMap<int, CDialogTemplate>* out) {
    for (auto it = dialogs.begin(); it != dialogs.end(); ++it) {
        CDialogTemplate dlg;
        if (!ParseId(it.key(), &dlg.id)) return QStringLiteral("dialog id is not a number: ") + it.key();
        if (!it.value().isObject()) return QStringLiteral("dialog %1 is not an object").arg(dlg.id);
        if (QString why = ReadDialog(it.value().toObject(), &dlg); !why.isEmpty()) return why;
        out->insert(dlg.id, dlg);
    }
    return {};
}

QString ReadMenus(const QJsonObject& menus, QMap<int, CMenuTemplate>* out) {
    for (auto it = menus.begin(); it != menus.end(); ++it) {
        int id = 0;
        if (!ParseId(it.key(), &id)) return QStringLiteral("menu id is not a number: ") + it.key();
        CMenuTemplate menu;
        QString error;
        if (!it.value().isObject() || !it.value().toObject().value(u"popups").isArray())
            return QStringLiteral("menu %1 has no list of popups").arg(id);
        if (!ReadMenuItems(it.value().toObject().value(u"popups").toArray(), &menu.popups, &error, 0))
            return QStringLiteral("menu %1: %2").arg(id).arg(error);
        out->insert(id, menu);
    }
    return {};
}

QString ReadAccelerators(const QJsonObject& accels, QMap<int, QList<CAccelerator>>* out) {
    for (auto it = accels.begin(); it != accels.end(); ++it) {
        int id = 0;
        if (!ParseId(it.key(), &id)) return QStringLiteral("accelerator id is not a number: ") + it.key();
        QList<CAccelerator> table;
        if (!it.value().isArray()) return QStringLiteral("accelerator table %1 is not a list").arg(id);
        for (const QJsonValue& v : it.value().toArray()) {
            const QJsonObject o = v.toObject();
            CAccelerator a;
            a.key = o.value(u"key").toString();
            if (!ReadWords(o.value(u"modifiers"), &a.modifiers))
                return QStringLiteral("accelerator table %1: bad modifiers").arg(id);
            a.command = o.value(u"command").toInt(0);
            if (a.key.isEmpty() || a.command == 0)
                return QStringLiteral("accelerator table %1: incomplete entry").arg(id);
            table.append(a);
        }
        out->insert(id, table);
    }
    return {};
}

QString ReadIcons(const QJsonObject& icons, const QString& baseDir, QMap<int, QString>* out) {
    for (auto it = icons.begin(); it != icons.end(); ++it) {
        int id = 0;
        if (!ParseId(it.key(), &id)) return QStringLiteral("icon id is not a number: ") + it.key();
        const QString file = it.value().toString();
        if (file.isEmpty()) return QStringLiteral("icon %1 has no file").arg(id);
        out->insert(id, baseDir + u'/' + file);
    }
    return {};
}

}  // namespace

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

    QJsonObject dialogs, menus, accels, icons;
    const QString why[] = {
        ReadStrings(root.value(u"strings").toObject(), &m_strings),
        SectionObject(root, u"dialogs", &dialogs),
        ReadDialogs(dialogs, &m_dialogs),
        SectionObject(root, u"menus", &menus),
        ReadMenus(menus, &m_menus),
        SectionObject(root, u"accelerators", &accels),
        ReadAccelerators(accels, &m_accelerators),
        SectionObject(root, u"icons", &icons),
        ReadIcons(icons, baseDir, &m_icons),
    };
    for (const QString& w : why)
        if (!w.isEmpty()) return fail(w);
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
