#pragma once

namespace vocalith {

class SqliteConnection;

// The library's tables, by version: each step takes a file from the version before.
class LibrarySchema final {
public:
    static constexpr int currentVersion = 2;

    // The version the file says it holds (0 for a new file), or -1 when it cannot be read.
    static int version(SqliteConnection& connection);
    // Brings the file up to target in one transaction; false when a step failed.
    static bool migrate(SqliteConnection& connection, int target = currentVersion);
};

} // namespace vocalith
