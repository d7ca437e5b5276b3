#include "SqliteConnection.h"

#include <sqlite3.h>

namespace vocalith {

SqliteConnection::Statement::Statement(SqliteConnection& connection, sqlite3_stmt* statement)
    : m_connection(&connection)
    , m_statement(statement) {
}

SqliteConnection::Statement::Statement(Statement&& other) noexcept
    : m_connection(other.m_connection)
    , m_statement(std::exchange(other.m_statement, nullptr))
    , m_done(other.m_done) {
}

SqliteConnection::Statement::~Statement() {
    sqlite3_finalize(m_statement);
}

bool SqliteConnection::Statement::next() {
    if (!m_statement || m_done)
        return false;
    const int code = sqlite3_step(m_statement);
    if (code == SQLITE_ROW)
        return true;
    if (code == SQLITE_DONE)
        m_done = true;
    else
        m_connection->recordError(code);
    return false;
}

qint64 SqliteConnection::Statement::integer(int column) const {
    return sqlite3_column_int64(m_statement, column);
}

double SqliteConnection::Statement::real(int column) const {
    return sqlite3_column_double(m_statement, column);
}

QString SqliteConnection::Statement::text(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_statement, column));
    return QString::fromUtf8(text, sqlite3_column_bytes(m_statement, column));
}

QByteArray SqliteConnection::Statement::blob(int column) const {
    const auto* data = static_cast<const char*>(sqlite3_column_blob(m_statement, column));
    return QByteArray(data, sqlite3_column_bytes(m_statement, column));
}

bool SqliteConnection::Statement::isNull(int column) const {
    return sqlite3_column_type(m_statement, column) == SQLITE_NULL;
}

SqliteConnection::~SqliteConnection() {
    close();
}

bool SqliteConnection::open(const QString& path, Mode mode) {
    close();
    const int flags =
        mode == Mode::readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    const int code =
        sqlite3_open_v2(path.toUtf8().constData(), &m_db, flags | SQLITE_OPEN_FULLMUTEX, nullptr);
    if (code != SQLITE_OK) {
        recordError(code);
        close();
        return false;
    }
    sqlite3_extended_result_codes(m_db, 0);
    // The window and a command line may write at once: wait for each other.
    sqlite3_busy_timeout(m_db, 30000);
    return true;
}

void SqliteConnection::close() {
    sqlite3_close_v2(m_db);
    m_db = nullptr;
}

void SqliteConnection::recordError(int code) {
    m_errorCode = code;
    m_errorMessage = m_db && sqlite3_errcode(m_db) == code
                         ? QString::fromUtf8(sqlite3_errmsg(m_db))
                         : QString::fromUtf8(sqlite3_errstr(code));
}

SqliteConnection::Statement SqliteConnection::prepare(const char* sql,
                                                      std::initializer_list<QVariant> values) {
    sqlite3_stmt* statement = nullptr;
    const int code = sqlite3_prepare_v2(m_db, sql, -1, &statement, nullptr);
    if (code != SQLITE_OK) {
        recordError(code);
        return Statement(*this, nullptr);
    }
    int index = 1;
    for (const QVariant& value : values) {
        switch (value.typeId()) {
        case QMetaType::QString: {
            const QByteArray utf8 = value.toString().toUtf8();
            sqlite3_bind_text(statement, index, utf8.constData(), int(utf8.size()),
                              SQLITE_TRANSIENT);
            break;
        }
        case QMetaType::QByteArray: {
            const QByteArray bytes = value.toByteArray();
            sqlite3_bind_blob(statement, index, bytes.constData(), int(bytes.size()),
                              SQLITE_TRANSIENT);
            break;
        }
        case QMetaType::Double:
            sqlite3_bind_double(statement, index, value.toDouble());
            break;
        case QMetaType::UnknownType:
        case QMetaType::Nullptr:
            sqlite3_bind_null(statement, index);
            break;
        default:
            sqlite3_bind_int64(statement, index, value.toLongLong());
        }
        ++index;
    }
    return Statement(*this, statement);
}

bool SqliteConnection::exec(const char* sql) {
    const int code = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
    if (code != SQLITE_OK)
        recordError(code);
    return code == SQLITE_OK;
}

bool SqliteConnection::run(const char* sql, std::initializer_list<QVariant> values) {
    Statement statement = prepare(sql, values);
    while (statement.next()) {
    }
    return statement.done();
}

QVariant SqliteConnection::value(const char* sql, std::initializer_list<QVariant> values) {
    Statement statement = prepare(sql, values);
    if (!statement.next())
        return {};
    switch (sqlite3_column_type(statement.m_statement, 0)) {
    case SQLITE_INTEGER:
        return statement.integer(0);
    case SQLITE_FLOAT:
        return statement.real(0);
    case SQLITE_NULL:
        return {};
    default:
        return statement.text(0);
    }
}

int SqliteConnection::changes() const {
    return sqlite3_changes(m_db);
}

qint64 SqliteConnection::lastInsertId() const {
    return sqlite3_last_insert_rowid(m_db);
}

} // namespace vocalith
