// Persistent state of the server in one SQLite database (WAL mode): accounts, groups, contact
// relations and offline messages. Every change that a reply acknowledges is committed before the
// reply is queued, so a killed process loses nothing it has confirmed. Used from one thread.
#pragma once
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace srv {

struct User {
    int id = 0;
    std::string email;
    std::string pw_hash;
    std::string first_name;
    std::string last_name;
    std::string nick_name;
    std::string phone;
    std::string country;
};

struct Group {
    int id = 0;
    std::string name;
};

// One entry of a user's contact list, with the contact's account details.
struct ContactEntry {
    int contact_id = 0;
    int group_id = 0;
    int state = 0;
    User contact;
};

struct OfflineMessage {
    int64_t id = 0;
    int sender = 0;
    std::string text;
};

class Store {
public:
    static constexpr int kSchemaVersion = 1;
    static constexpr int kEmailExists = -2;

    Store() = default;
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // Opens (creating when needed) the database at path; ":memory:" gives a private in-memory one.
    // Creates or upgrades the schema. Returns 0 or -1 (error text in last_error()).
    int open(const std::string& path);
    void close();
    const std::string& last_error() const { return m_error; }

    // Accounts. create_user returns the new id, kEmailExists or -1.
    int create_user(const User& user);
    int find_user_by_email(const std::string& email, User* out);  // 0 found, -1 not
    int find_user(int id, User* out);                             // 0 found, -1 not

    // Groups of one owner.
    int list_groups(int owner, std::vector<Group>* out);
    int count_groups(int owner);
    int add_group(int owner, const std::string& name);  // new id or -1
    bool group_owned(int owner, int group_id);
    int rename_group(int owner, int group_id, const std::string& name);
    // Removes an empty group; -1 when it is not the owner's or still holds contacts.
    int remove_group(int owner, int group_id);

    // Relations: owner's view of contact. get_relation returns 0 and fills state/group, or -1.
    int list_contacts(int owner, std::vector<ContactEntry>* out);
    int count_contacts(int owner);
    int get_relation(int owner, int contact, int* state, int* group_id);
    int set_relation(int owner, int contact, int state, int group_id);
    int set_relation_state(int owner, int contact, int state);
    int move_contact(int owner, int contact, int group_id);
    int delete_relation(int owner, int contact);
    // Users who hold `contact` in their lists.
    int list_watchers(int contact, std::vector<int>* out);

    // Offline messages.
    int add_offline(int recipient, int sender, const std::string& text);
    bool has_offline(int recipient);
    // Number and total size of the messages waiting for recipient. Returns 0 or -1.
    int offline_usage(int recipient, int* count, int64_t* bytes);
    // The same for the messages of one sender, and for those of all senders the recipient has
    // not added as contacts (relation state REL_ADDED). Return 0 or -1.
    int offline_usage_from(int recipient, int sender, int* count, int64_t* bytes);
    int offline_usage_strangers(int recipient, int added_state, int* count, int64_t* bytes);
    int list_offline(int recipient, std::vector<OfflineMessage>* out);
    // Deletes sender's messages to recipient with an id up to max_id.
    int delete_offline(int recipient, int sender, int64_t max_id);

    // Reports a client sends about its network (speed, relay traffic, relay connections).
    int set_stat(int user, const char* column, int64_t value);

    // Transactions; begin/commit pairs may not nest.
    int begin();
    int commit();
    void rollback();

private:
    int exec(const char* sql);
    sqlite3_stmt* prepare(const char* sql);
    int fail(const char* what);
    int create_schema();

    sqlite3* m_db = nullptr;
    std::unordered_map<const char*, sqlite3_stmt*> m_stmts;  // prepared once per SQL text
    std::string m_error;
};

}  // namespace srv
