#pragma once

namespace platform {

// Makes the default SQLite file layer of this process record, with setHeldByDatabase, every file
// a connection keeps open (the database, its journal and write-ahead log when opened, its index
// when first mapped) for as long as it keeps it: readRegularFile then never opens and closes one
// here, which would drop the connection's locks. Once for the process; called before each open
// (later calls do nothing).
void recordFilesHeldByDatabases();

}  // namespace platform
