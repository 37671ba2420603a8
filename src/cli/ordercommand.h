#pragma once
// corvane's address-order preview and well-known tables:
//   order [--table FILE] NAME|ADDRESS...   the order programs will try the addresses in
//   table NAME                             a well-known table in the policy table file format
#include <QString>
#include <QStringList>
#include <cstdio>
#include <functional>

class CZarntoolApp;

namespace cli {

using WriteLine = std::function<void(std::FILE*, const QString&)>;

// Exit status 0 shown, 1 failed.
int Order(CZarntoolApp& app, const QStringList& hosts, const QString& tableFile, bool json,
          const WriteLine& write);
int Table(CZarntoolApp& app, const QString& name, bool json, const WriteLine& write);

}  // namespace cli
