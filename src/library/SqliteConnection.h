#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <initializer_list>
#include <memory>

struct sqlite3;
struct sqlite3_stmt;

namespace vocalith {

// One SQLite connection and the statements run on it; errors come back as the
// SQLite code with its message, never as exceptions.
class SqliteConnection final {
public:
    enum class Mode { readWrite, readOnly };

    // A statement bound and ready to step; finalised when it goes.
    class Statement final {
    public:
        Statement(Statement&&) noexcept;
        ~Statement();
        bool isValid() const { return m_statement != nullptr; }
        // True while a row is there; done() tells apart the end from an error.
        bool next();
        bool done() const { return m_done; }
        qint64 integer(int column) const;
        double real(int column) const;
        QString text(int column) const;
        QByteArray blob(int column) const;
        bool isNull(int column) const;

    private:
        friend class SqliteConnection;
        Statement(SqliteConnection& connection, sqlite3_stmt* statement);
        SqliteConnection* m_connection;
        sqlite3_stmt* m_statement;
        bool m_done = false;
    };

    SqliteConnection() = default;
    ~SqliteConnection();
    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;

    bool open(const QString& path, Mode mode);
    void close();
    bool isOpen() const { return m_db != nullptr; }

    // Binds QString as text, QByteArray as a blob, integers, doubles and null.
    Statement prepare(const char* sql, std::initializer_list<QVariant> values = {});
    // Runs every statement in sql, without results.
    bool exec(const char* sql);
    // Runs one statement to its end.
    bool run(const char* sql, std::initializer_list<QVariant> values = {});
    // The first column of the first row, or an invalid value.
    QVariant value(const char* sql, std::initializer_list<QVariant> values = {});
    qint64 lastInsertId() const;
    // Rows the last statement changed.
    int changes() const;

    int errorCode() const { return m_errorCode; }
    QString errorMessage() const { return m_errorMessage; }

private:
    void recordError(int code);

    sqlite3* m_db = nullptr;
    int m_errorCode = 0;
    QString m_errorMessage;
};

} // namespace vocalith
