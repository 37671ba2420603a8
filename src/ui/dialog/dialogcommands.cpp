#include "ui/dialog/dialogcommands.h"

void CDialogCommands::Map(int id, std::function<void()> handler, int code) {
    m_map.insert(qMakePair(id, code), std::move(handler));
}

bool CDialogCommands::Dispatch(int id, int code) const {
    const auto handler = m_map.constFind(qMakePair(id, code));
    if (handler == m_map.constEnd()) return false;
    const std::function<void()> call = *handler;  // the map may change inside
    call();
    return true;
}
