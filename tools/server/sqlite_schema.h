// The SQLite schema of the reference server and its migrations. Each version is a list of
// statements applied in one transaction; the version reached is kept in table schema_version.
//
// Thread safety: MigrateSchema runs once, on the first connection, before the storage is shared.
#ifndef DOCSEC_TOOLS_SERVER_SQLITE_SCHEMA_H_
#define DOCSEC_TOOLS_SERVER_SQLITE_SCHEMA_H_

#include <string>

#include "tools/server/storage.h"

namespace docsec::server {

// Brings the database reached through `connection` (outside any transaction) to the current
// version. False with a reason in *error when a step fails or the database is newer than this
// server; nothing of a failed step remains.
bool MigrateSchema(Transaction& connection, std::string* error);

}  // namespace docsec::server

#endif  // DOCSEC_TOOLS_SERVER_SQLITE_SCHEMA_H_
