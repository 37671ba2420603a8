#pragma once
// A resource set: string table, dialog templates, menus, accelerator tables and icons, all
// reached by number. The program carries its own set (embedded); each language library
// conf/langs/<language>/lang.json carries one with the same numbers. Format: a UTF-8 JSON
// document with the objects "strings", "dialogs", "menus", "accelerators" and "icons", whose
// keys are the numeric ids.
#include <QHash>
#include <QList>
#include <QMap>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

struct CDialogControl {
    int id = -1;          // -1 for controls without an id (IDC_STATIC)
    QString kind;         // button, checkbox, static, groupbox, edit, combobox, listview, richedit
    QRect rect;           // dialog units
    QString text;
    QStringList style;    // default, group, tabstop, autohscroll, border, sort, vscroll, ...
    bool HasStyle(const QString& s) const { return style.contains(s); }
};

struct CDialogTemplate {
    int id = 0;
    QString caption;
    QSize size;           // dialog units
    QString fontFace;
    int fontPoints = 9;
    QStringList frame;    // fixed/resizable, caption, sysmenu, visible, appwindow
    int menuId = 0;       // 0: no menu
    QList<CDialogControl> controls;
    bool HasFrame(const QString& f) const { return frame.contains(f); }
    const CDialogControl* Control(int controlId) const;
};

struct CMenuItem {
    int id = 0;           // command id; 0 for separators and popups
    QString text;
    bool separator = false;
    QList<CMenuItem> items;  // non-empty for a popup
    bool IsPopup() const { return !items.isEmpty(); }
};

struct CMenuTemplate {
    QList<CMenuItem> popups;
};

struct CAccelerator {
    QString key;          // virtual key, e.g. "E"
    QStringList modifiers;  // ctrl, shift, alt
    int command = 0;
};

class CResourceSet {
public:
    enum class LoadStatus { Loaded, NotFound, NotLoadable };

    // Loads a set from a file (a Qt resource path such as ":/res/zarntool.json" works too).
    // On NotFound or NotLoadable the set is left empty and `reason` says why.
    LoadStatus Load(const QString& path, QString* reason = nullptr);
    // Loads from a JSON document; icon paths are taken relative to baseDir.
    LoadStatus LoadFromJson(const QByteArray& json, const QString& baseDir,
                            QString* reason = nullptr);

    bool IsLoaded() const { return m_loaded; }
    QString String(int id) const { return m_strings.value(id); }  // empty when missing
    bool HasString(int id) const { return m_strings.contains(id); }
    QList<int> StringIds() const;
    const CDialogTemplate* Dialog(int id) const;
    const CMenuTemplate* Menu(int id) const;
    QList<CAccelerator> Accelerators(int id) const { return m_accelerators.value(id); }
    bool HasAccelerators(int id) const { return m_accelerators.contains(id); }
    QString IconPath(int id) const { return m_icons.value(id); }  // resolved path, or empty

    // The program's own set, embedded in the binary.
    static const CResourceSet& ProgramSet();
    static QString ProgramSetPath() { return QStringLiteral(":/res/zarntool.json"); }

private:
    bool m_loaded = false;
    QHash<int, QString> m_strings;
    QMap<int, CDialogTemplate> m_dialogs;
    QMap<int, CMenuTemplate> m_menus;
    QMap<int, QList<CAccelerator>> m_accelerators;
    QMap<int, QString> m_icons;
};
