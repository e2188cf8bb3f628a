#include "server/store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace srv {

namespace {

// A cached statement, reset and unbound when the scope ends.
class Stmt {
public:
    explicit Stmt(sqlite3_stmt* s) : m_s(s) {}
    ~Stmt() {
        if (m_s) {
            sqlite3_reset(m_s);
            sqlite3_clear_bindings(m_s);
        }
    }
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;
    explicit operator bool() const { return m_s != nullptr; }
    Stmt& bind(int i, int v) {
        sqlite3_bind_int(m_s, i, v);
        return *this;
    }
    Stmt& bind64(int i, int64_t v) {
        sqlite3_bind_int64(m_s, i, v);
        return *this;
    }
    Stmt& bind(int i, const std::string& v) {
        sqlite3_bind_text(m_s, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Stmt& bind_blob(int i, const std::string& v) {
        sqlite3_bind_blob(m_s, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    int step() { return sqlite3_step(m_s); }
    int col_int(int i) { return sqlite3_column_int(m_s, i); }
    int64_t col_int64(int i) { return sqlite3_column_int64(m_s, i); }
    std::string col_text(int i) {
        const auto* p = sqlite3_column_blob(m_s, i);
        int n = sqlite3_column_bytes(m_s, i);
        return p ? std::string(static_cast<const char*>(p), static_cast<size_t>(n)) : std::string();
    }

private:
    sqlite3_stmt* m_s;
};

void read_user(Stmt& s, int first_col, User* u) {
    u->id = s.col_int(first_col);
    u->email = s.col_text(first_col + 1);
    u->pw_hash = s.col_text(first_col + 2);
    u->first_name = s.col_text(first_col + 3);
    u->last_name = s.col_text(first_col + 4);
    u->nick_name = s.col_text(first_col + 5);
    u->phone = s.col_text(first_col + 6);
    u->country = s.col_text(first_col + 7);
}

constexpr const char* kUserCols =
    "id, email, pw_hash, first_name, last_name, nick_name, phone, country";

}  // namespace

Store::~Store() {
    close();
}

void Store::close() {
    if (!m_db) return;
    for (auto& [sql, stmt] : m_stmts) sqlite3_finalize(stmt);
    m_stmts.clear();
    sqlite3_close(m_db);
    m_db = nullptr;
}

int Store::fail(const char* what) {
    m_error = what;
    if (m_db) {
        m_error += ": ";
        m_error += sqlite3_errmsg(m_db);
    }
    return -1;
}

int Store::exec(const char* sql) {
    char* err = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
        m_error = err ? err : "sqlite3_exec failed";
        sqlite3_free(err);
        return -1;
    }
    return 0;
}

sqlite3_stmt* Store::prepare(const char* sql) {
    auto it = m_stmts.find(sql);
    if (it != m_stmts.end()) return it->second;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK) {
        fail("prepare");
        return nullptr;
    }
    m_stmts[sql] = stmt;
    return stmt;
}

namespace {
// The database holds password hashes and messages: the file and its journals are for the owner
// alone. The file is made here (SQLite would follow the umask) and the journals take its mode.
int make_private(const std::string& path) {
    if (path.empty() || path == ":memory:" || path.compare(0, 5, "file:") == 0) return 0;
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    struct stat st {};
    int rc = fstat(fd, &st) == 0 && ((st.st_mode & 0777) == 0600 || fchmod(fd, 0600) == 0) ? 0 : -1;
    ::close(fd);
    for (const char* suffix : {"-wal", "-shm"}) {
        const std::string journal = path + suffix;
        if (stat(journal.c_str(), &st) == 0 && (st.st_mode & 0777) != 0600)
            chmod(journal.c_str(), 0600);
    }
    return rc;
}
}  // namespace

int Store::open(const std::string& path) {
    close();
    if (make_private(path) != 0) {
        m_error = "cannot create " + path + " for its owner alone: " + std::strerror(errno);
        return -1;
    }
    if (sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
        fail("open");
        close();
        return -1;
    }
    sqlite3_busy_timeout(m_db, 5000);
    // WAL with synchronous=NORMAL: a committed transaction is in the WAL file before the call
    // returns, so a killed process loses nothing; only a power cut may lose the last commits.
    if (exec("PRAGMA journal_mode=WAL") != 0 || exec("PRAGMA synchronous=NORMAL") != 0 ||
        exec("PRAGMA foreign_keys=ON") != 0 || create_schema() != 0) {
        std::string err = m_error;
        close();
        m_error = err;
        return -1;
    }
    return 0;
}

int Store::create_schema() {
    if (exec("CREATE TABLE IF NOT EXISTS meta (key TEXT PRIMARY KEY, value INTEGER NOT NULL)") != 0)
        return -1;
    int version = 0;
    {
        Stmt s(prepare("SELECT value FROM meta WHERE key = 'schema_version'"));
        if (!s) return -1;
        if (s.step() == SQLITE_ROW) version = s.col_int(0);
    }
    if (version > kSchemaVersion) {
        m_error =
            "database schema version " + std::to_string(version) + " is newer than this server";
        return -1;
    }
    if (version == kSchemaVersion) return 0;
    // Version 0 -> 1: the first schema.
    if (begin() != 0) return -1;
    const char* ddl =
        "CREATE TABLE users ("
        " id INTEGER PRIMARY KEY AUTOINCREMENT,"
        " email TEXT NOT NULL UNIQUE COLLATE NOCASE,"
        " pw_hash TEXT NOT NULL,"
        " first_name TEXT NOT NULL DEFAULT '', last_name TEXT NOT NULL DEFAULT '',"
        " nick_name TEXT NOT NULL DEFAULT '', phone TEXT NOT NULL DEFAULT '',"
        " country TEXT NOT NULL DEFAULT '',"
        " speed INTEGER NOT NULL DEFAULT 0, relay_traffic INTEGER NOT NULL DEFAULT 0,"
        " relay_connections INTEGER NOT NULL DEFAULT 0,"
        " created INTEGER NOT NULL DEFAULT (strftime('%s','now')));"
        // Ids start at 10000 so that they never look like small command arguments.
        "INSERT INTO sqlite_sequence (name, seq) VALUES ('users', 9999);"
        "CREATE TABLE groups ("
        " id INTEGER PRIMARY KEY AUTOINCREMENT,"
        " owner INTEGER NOT NULL REFERENCES users(id),"
        " name TEXT NOT NULL);"
        "CREATE INDEX groups_owner ON groups(owner);"
        "CREATE TABLE relations ("
        " owner INTEGER NOT NULL REFERENCES users(id),"
        " contact INTEGER NOT NULL REFERENCES users(id),"
        " state INTEGER NOT NULL,"
        " group_id INTEGER NOT NULL DEFAULT 0,"
        " PRIMARY KEY (owner, contact)) WITHOUT ROWID;"
        "CREATE INDEX relations_contact ON relations(contact);"
        "CREATE TABLE offline_messages ("
        " id INTEGER PRIMARY KEY AUTOINCREMENT,"
        " recipient INTEGER NOT NULL REFERENCES users(id),"
        " sender INTEGER NOT NULL,"
        " body BLOB NOT NULL,"
        " created INTEGER NOT NULL DEFAULT (strftime('%s','now')));"
        "CREATE INDEX offline_recipient ON offline_messages(recipient, sender);"
        "INSERT OR REPLACE INTO meta (key, value) VALUES ('schema_version', 1);";
    if (exec(ddl) != 0) {
        rollback();
        return -1;
    }
    return commit();
}

int Store::begin() {
    return exec("BEGIN IMMEDIATE");
}
int Store::commit() {
    return exec("COMMIT");
}
void Store::rollback() {
    if (m_db && !sqlite3_get_autocommit(m_db)) exec("ROLLBACK");
}

int Store::create_user(const User& u) {
    static const std::string sql = std::string("INSERT INTO users (email, pw_hash, first_name, ") +
                                   "last_name, nick_name, phone, country) VALUES (?,?,?,?,?,?,?)";
    Stmt s(prepare(sql.c_str()));
    if (!s) return -1;
    s.bind(1, u.email).bind(2, u.pw_hash).bind(3, u.first_name).bind(4, u.last_name);
    s.bind(5, u.nick_name).bind(6, u.phone).bind(7, u.country);
    int rc = s.step();
    if (rc == SQLITE_CONSTRAINT) return kEmailExists;
    if (rc != SQLITE_DONE) return fail("create_user");
    return static_cast<int>(sqlite3_last_insert_rowid(m_db));
}

int Store::find_user_by_email(const std::string& email, User* out) {
    static const std::string sql =
        std::string("SELECT ") + kUserCols + " FROM users WHERE email = ?";
    Stmt s(prepare(sql.c_str()));
    if (!s) return -1;
    s.bind(1, email);
    if (s.step() != SQLITE_ROW) return -1;
    read_user(s, 0, out);
    return 0;
}

int Store::find_user(int id, User* out) {
    static const std::string sql = std::string("SELECT ") + kUserCols + " FROM users WHERE id = ?";
    Stmt s(prepare(sql.c_str()));
    if (!s) return -1;
    s.bind(1, id);
    if (s.step() != SQLITE_ROW) return -1;
    read_user(s, 0, out);
    return 0;
}

int Store::list_groups(int owner, std::vector<Group>* out) {
    out->clear();
    Stmt s(prepare("SELECT id, name FROM groups WHERE owner = ? ORDER BY id"));
    if (!s) return -1;
    s.bind(1, owner);
    while (s.step() == SQLITE_ROW) out->push_back(Group{s.col_int(0), s.col_text(1)});
    return 0;
}

int Store::count_groups(int owner) {
    Stmt s(prepare("SELECT COUNT(*) FROM groups WHERE owner = ?"));
    if (!s) return -1;
    s.bind(1, owner);
    return s.step() == SQLITE_ROW ? s.col_int(0) : -1;
}

int Store::add_group(int owner, const std::string& name) {
    Stmt s(prepare("INSERT INTO groups (owner, name) VALUES (?, ?)"));
    if (!s) return -1;
    s.bind(1, owner).bind(2, name);
    if (s.step() != SQLITE_DONE) return fail("add_group");
    return static_cast<int>(sqlite3_last_insert_rowid(m_db));
}

bool Store::group_owned(int owner, int group_id) {
    Stmt s(prepare("SELECT 1 FROM groups WHERE owner = ? AND id = ?"));
    if (!s) return false;
    s.bind(1, owner).bind(2, group_id);
    return s.step() == SQLITE_ROW;
}

int Store::rename_group(int owner, int group_id, const std::string& name) {
    Stmt s(prepare("UPDATE groups SET name = ? WHERE owner = ? AND id = ?"));
    if (!s) return -1;
    s.bind(1, name).bind(2, owner).bind(3, group_id);
    if (s.step() != SQLITE_DONE) return fail("rename_group");
    return sqlite3_changes(m_db) == 1 ? 0 : -1;
}

int Store::remove_group(int owner, int group_id) {
    {
        Stmt s(prepare("SELECT COUNT(*) FROM relations WHERE owner = ? AND group_id = ?"));
        if (!s) return -1;
        s.bind(1, owner).bind(2, group_id);
        if (s.step() != SQLITE_ROW || s.col_int(0) != 0) return -1;
    }
    Stmt s(prepare("DELETE FROM groups WHERE owner = ? AND id = ?"));
    if (!s) return -1;
    s.bind(1, owner).bind(2, group_id);
    if (s.step() != SQLITE_DONE) return fail("remove_group");
    return sqlite3_changes(m_db) == 1 ? 0 : -1;
}

int Store::list_contacts(int owner, std::vector<ContactEntry>* out) {
    out->clear();
    static const std::string sql =
        "SELECT r.contact, r.group_id, r.state, u.id, u.email, u.pw_hash, u.first_name, "
        "u.last_name, u.nick_name, u.phone, u.country FROM relations r JOIN users u ON "
        "u.id = r.contact WHERE r.owner = ? ORDER BY u.id";
    Stmt s(prepare(sql.c_str()));
    if (!s) return -1;
    s.bind(1, owner);
    while (s.step() == SQLITE_ROW) {
        ContactEntry e;
        e.contact_id = s.col_int(0);
        e.group_id = s.col_int(1);
        e.state = s.col_int(2);
        read_user(s, 3, &e.contact);
        e.contact.pw_hash.clear();
        out->push_back(std::move(e));
    }
    return 0;
}

int Store::count_contacts(int owner) {
    Stmt s(prepare("SELECT COUNT(*) FROM relations WHERE owner = ?"));
    if (!s) return -1;
    s.bind(1, owner);
    return s.step() == SQLITE_ROW ? s.col_int(0) : -1;
}

int Store::get_relation(int owner, int contact, int* state, int* group_id) {
    Stmt s(prepare("SELECT state, group_id FROM relations WHERE owner = ? AND contact = ?"));
    if (!s) return -1;
    s.bind(1, owner).bind(2, contact);
    if (s.step() != SQLITE_ROW) return -1;
    if (state) *state = s.col_int(0);
    if (group_id) *group_id = s.col_int(1);
    return 0;
}

int Store::set_relation(int owner, int contact, int state, int group_id) {
    Stmt s(
        prepare("INSERT INTO relations (owner, contact, state, group_id) VALUES (?,?,?,?) "
                "ON CONFLICT(owner, contact) DO UPDATE SET state = excluded.state, "
                "group_id = excluded.group_id"));
    if (!s) return -1;
    s.bind(1, owner).bind(2, contact).bind(3, state).bind(4, group_id);
    return s.step() == SQLITE_DONE ? 0 : fail("set_relation");
}

int Store::set_relation_state(int owner, int contact, int state) {
    Stmt s(prepare("UPDATE relations SET state = ? WHERE owner = ? AND contact = ?"));
    if (!s) return -1;
    s.bind(1, state).bind(2, owner).bind(3, contact);
    if (s.step() != SQLITE_DONE) return fail("set_relation_state");
    return sqlite3_changes(m_db) == 1 ? 0 : -1;
}

int Store::move_contact(int owner, int contact, int group_id) {
    Stmt s(prepare("UPDATE relations SET group_id = ? WHERE owner = ? AND contact = ?"));
    if (!s) return -1;
    s.bind(1, group_id).bind(2, owner).bind(3, contact);
    if (s.step() != SQLITE_DONE) return fail("move_contact");
    return sqlite3_changes(m_db) == 1 ? 0 : -1;
}

int Store::delete_relation(int owner, int contact) {
    Stmt s(prepare("DELETE FROM relations WHERE owner = ? AND contact = ?"));
    if (!s) return -1;
    s.bind(1, owner).bind(2, contact);
    if (s.step() != SQLITE_DONE) return fail("delete_relation");
    return sqlite3_changes(m_db) == 1 ? 0 : -1;
}

int Store::list_watchers(int contact, std::vector<int>* out) {
    out->clear();
    Stmt s(prepare("SELECT owner FROM relations WHERE contact = ? ORDER BY owner"));
    if (!s) return -1;
    s.bind(1, contact);
    while (s.step() == SQLITE_ROW) out->push_back(s.col_int(0));
    return 0;
}

int Store::add_offline(int recipient, int sender, const std::string& text) {
    Stmt s(prepare("INSERT INTO offline_messages (recipient, sender, body) VALUES (?,?,?)"));
    if (!s) return -1;
    s.bind(1, recipient).bind(2, sender).bind_blob(3, text);
    return s.step() == SQLITE_DONE ? 0 : fail("add_offline");
}

bool Store::has_offline(int recipient) {
    Stmt s(prepare("SELECT 1 FROM offline_messages WHERE recipient = ? LIMIT 1"));
    if (!s) return false;
    s.bind(1, recipient);
    return s.step() == SQLITE_ROW;
}

int Store::offline_usage(int recipient, int* count, int64_t* bytes) {
    Stmt s(
        prepare("SELECT COUNT(*), COALESCE(SUM(LENGTH(body)), 0) FROM offline_messages WHERE "
                "recipient = ?"));
    if (!s) return -1;
    s.bind(1, recipient);
    if (s.step() != SQLITE_ROW) return fail("offline_usage");
    *count = s.col_int(0);
    *bytes = s.col_int64(1);
    return 0;
}

int Store::offline_usage_from(int recipient, int sender, int* count, int64_t* bytes) {
    Stmt s(
        prepare("SELECT COUNT(*), COALESCE(SUM(LENGTH(body)), 0) FROM offline_messages WHERE "
                "recipient = ? AND sender = ?"));
    if (!s) return -1;
    s.bind(1, recipient).bind(2, sender);
    if (s.step() != SQLITE_ROW) return fail("offline_usage_from");
    *count = s.col_int(0);
    *bytes = s.col_int64(1);
    return 0;
}

int Store::offline_usage_strangers(int recipient, int added_state, int* count, int64_t* bytes) {
    Stmt s(prepare(
        "SELECT COUNT(*), COALESCE(SUM(LENGTH(m.body)), 0) FROM offline_messages m WHERE "
        "m.recipient = ? AND NOT EXISTS (SELECT 1 FROM relations r WHERE r.owner = m.recipient "
        "AND r.contact = m.sender AND r.state = ?)"));
    if (!s) return -1;
    s.bind(1, recipient).bind(2, added_state);
    if (s.step() != SQLITE_ROW) return fail("offline_usage_strangers");
    *count = s.col_int(0);
    *bytes = s.col_int64(1);
    return 0;
}

int Store::list_offline(int recipient, std::vector<OfflineMessage>* out) {
    out->clear();
    Stmt s(
        prepare("SELECT id, sender, body FROM offline_messages WHERE recipient = ? ORDER BY id"));
    if (!s) return -1;
    s.bind(1, recipient);
    while (s.step() == SQLITE_ROW)
        out->push_back(OfflineMessage{s.col_int64(0), s.col_int(1), s.col_text(2)});
    return 0;
}

int Store::delete_offline(int recipient, int sender, int64_t max_id) {
    Stmt s(prepare("DELETE FROM offline_messages WHERE recipient = ? AND sender = ? AND id <= ?"));
    if (!s) return -1;
    s.bind(1, recipient).bind(2, sender).bind64(3, max_id);
    return s.step() == SQLITE_DONE ? 0 : fail("delete_offline");
}

int Store::set_stat(int user, const char* column, int64_t value) {
    const char* sql = nullptr;
    if (std::strcmp(column, "speed") == 0)
        sql = "UPDATE users SET speed = ? WHERE id = ?";
    else if (std::strcmp(column, "relay_traffic") == 0)
        sql = "UPDATE users SET relay_traffic = ? WHERE id = ?";
    else if (std::strcmp(column, "relay_connections") == 0)
        sql = "UPDATE users SET relay_connections = ? WHERE id = ?";
    else
        return -1;
    Stmt s(prepare(sql));
    if (!s) return -1;
    s.bind64(1, value).bind(2, user);
    return s.step() == SQLITE_DONE ? 0 : fail("set_stat");
}

}  // namespace srv
