// SPDX-License-Identifier: MIT
// Where a database lives, and making sure one is there.
//
// A name reaches a Firebird server when it has one of the forms
// "host:path", "host/port:path" (port: a number or a service name) or
// "PROTOCOL://host[:port]/path" (inet, inet4, inet6, xnet, wnet); every other
// name is a local file opened by the in-process engine.
//
// EnsureDatabase leaves a usable database at a name: it creates one when
// none exists (a local file is made, schema and all, under a temporary name
// and moved into place, so a process killed part-way never leaves a broken
// file behind),
// and it recreates an existing one that it was itself making when a first
// start was cut short: owned by the user, some but not all of the schema's
// tables, no row in them, and nothing else (no other relation, role or
// grant), so nothing is lost. Any other database is kept as it is, so one
// that an administrator made for the program keeps its page size, roles and
// grants and gets the schema made inside it.
// Existence on a server is tested by attaching. Failures raise
// EFirebirdError (or kt::Exception for a file that cannot be moved).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace tidewell::db {

bool IsServerPath(const std::string& name);

// Splits a server name into the part that names the server, up to and with
// its ':' (or the '/' after "PROTOCOL://host[:port]"), and the path on the
// server. A local name has an empty server part.
void SplitServerPart(const std::string& name, std::string& server, std::string& path);

// Makes the schema in a new local database, given by its temporary name.
using SchemaMaker = std::function<void(const std::string& partialName)>;

// True when a database was made where there was none; false when one was
// there (kept, or remade when its own first start was cut short). A local
// file keeps its temporary name ("<name>.partial") until makeSchema has
// returned: no start ever finds a half-made database by the name.
bool EnsureDatabase(const std::string& name, const std::string& user, const std::string& password,
                    int32_t pageSize, const SchemaMaker& makeSchema = {});

}  // namespace tidewell::db
