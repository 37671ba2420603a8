#pragma once
// The command side of a dialog: the map that runs a handler when a command (id, notification
// code) arrives from a control, menu item or accelerator, and the state of the modal run.
#include <QHash>
#include <QPair>
#include <functional>

// Notification codes a control sends with its command (the Windows values). Menu items and
// accelerators send code 0, so a handler mapped for BN_CLICKED also serves a menu command.
constexpr int BN_CLICKED = 0;
constexpr int CBN_SELCHANGE = 1;
constexpr int EN_CHANGE = 0x0300;

// System command that closes the window.
constexpr int SC_CLOSE = 0xF060;

class CDialogCommands {
public:
    void Map(int id, std::function<void()> handler, int code);
    // Runs the handler mapped for (id, code); false when there is none.
    bool Dispatch(int id, int code) const;

    // The modal run: started, then ended with a result.
    void Begin() {
        m_bEnded = false;
        m_nResult = -1;
    }
    void End(int result) {
        m_nResult = result;
        m_bEnded = true;
    }
    bool Ended() const { return m_bEnded; }
    int Result() const { return m_nResult; }

private:
    QHash<QPair<int, int>, std::function<void()>> m_map;
    bool m_bEnded = false;
    int m_nResult = -1;
};
