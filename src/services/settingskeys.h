#pragma once
// Sections and keys of the settings file (conf/zarntool.ini), named once for every reader and
// writer. "DCHP" is the section the DHCPv6 option code has always been stored under.
#include <QString>

namespace settings {

inline QString Application() { return QStringLiteral("APPLICATION"); }
inline QString Http() { return QStringLiteral("HTTP"); }
inline QString Dhcp() { return QStringLiteral("DHCP"); }
inline QString DhcpOption() { return QStringLiteral("DCHP"); }
inline QString Watch() { return QStringLiteral("WATCH"); }

// [APPLICATION]
inline QString LogLevel() { return QStringLiteral("LOG_LEVEL"); }
inline QString Lang() { return QStringLiteral("LANG"); }
inline QString Os() { return QStringLiteral("OS"); }
inline QString UseNetwork() { return QStringLiteral("USE_NETWORK"); }
inline QString Protocol() { return QStringLiteral("PROTOCOL"); }
inline QString Batch() { return QStringLiteral("BATCH"); }
// [HTTP]
inline QString Address() { return QStringLiteral("ADDRESS"); }
// [HTTP] and [DHCP]: defaults of fetched rows
inline QString NetworkName() { return QStringLiteral("NETWORK_NAME"); }
inline QString Label() { return QStringLiteral("LABEL"); }
inline QString Priority() { return QStringLiteral("PRIORITY"); }
// [DCHP]
inline QString OptionCode() { return QStringLiteral("OPTION_CODE"); }
inline QString RequestOption() { return QStringLiteral("REQUEST_OPTION"); }
// [WATCH]: the watcher of the network's policy. Only tests lower these.
inline QString RefreshFloor() { return QStringLiteral("REFRESH_FLOOR"); }  // seconds, 600
inline QString RateLimit() { return QStringLiteral("RATE_LIMIT"); }        // seconds, 60
inline QString OnceWait() { return QStringLiteral("ONCE_WAIT"); }          // seconds, 30

}  // namespace settings
