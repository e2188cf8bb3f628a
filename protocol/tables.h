// The process-wide contact, group and chat-window tables. Fixed sizes, linear first-match
// searches from index 0, a slot is free while its in-use flag is 0.
//
// Threads: the receive thread, the front end's thread and the per-server worker threads all use
// these tables, so every access holds tables_mutex(). The lock is recursive so that an operation
// may be called by code that already holds it; it is never held across socket I/O or while a
// notification is posted. Code outside this file reads records through the snapshot
// helpers, which copy under the lock.
#pragma once
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "protocol/commands.h"
#include "protocol/notify.h"

struct contact_record {
    int in_use;
    int contact_id;
    int group_id;
    char display_name[128];
    char first_name[64];
    char last_name[64];
    char email[128];
    char home_server[32];
    char extra_text[32];
    char address[21];
    int relation_state;
    int retrieve_marker;
    int status_marker;
    int presence;
    int asked;
    int in_tree;
    int knock_blocked;
    void* tree_item;
    char send_file_path[512];
    char send_file_name[256];
    char recv_file_path[512];
    char recv_file_name[256];
    FILE* recv_fd;
};

struct group_record {
    int in_use;
    int group_id;
    char name[33];
    void* tree_item;
};

struct chat_dlg_entry {
    int in_use;
    chat_window* dlg_chat;
};

extern contact_record g_contact[kMaxContacts];
extern group_record g_group_table[kMaxGroups];
extern int g_num_contact_group;
extern int g_contact_count;  // contacts added since the last list (grows with additions)
extern chat_dlg_entry g_chat_dlgs[kMaxChatDlgs];

std::recursive_mutex& tables_mutex();
using tables_guard = std::lock_guard<std::recursive_mutex>;

// Contact addresses arrive after presence (a contact may show Online before its address came):
// whoever writes one calls contact_address_written() (without holding the lock), and a worker
// that needs one waits for it, at most ms. True with the address in out once it is known.
void contact_address_written();
bool wait_contact_address(int contact_id, uint32_t ms, char* out, size_t size);

// Presence texts: the main window's status label ("OnLine" for 1), the tray and tool-tip word
// ("Online"; a contact appearing offline reads "Offline" in a tool tip) and the menu text.
const char* presence_label(int state);
const char* presence_word(int state);

int add_one_contact(int contact_id, int group_id, const char* display_name);
int reset_one_contact(int index);
int add_one_contact_group(int group_id, const char* name);
int reset_one_contact_group(int index);
// Server command 161: count 0, then every group record reset.
void clear_all_groups();
// Server command 171: count 0, then every contact record reset.
void clear_all_contacts();
// Program start: both tables and the chat-window table cleared.
void clear_all_tables();

int get_contact_index(int contact_id);
int get_chat_dlg_index(int peer_id);
chat_window* get_chat_dlg_from_peer_id(int peer_id);
// Whether a chat line from peer_id may be shown: the peer is a contact, or has an open chat window.
bool chat_peer_known(int peer_id);
// Registers an open chat window (first free entry). Returns the index or -1 when all 20 are used.
int add_chat_dlg(chat_window* dlg);
// Removes the entry of a window that is being destroyed.
void remove_chat_dlg(chat_window* dlg);
// Shutdown: every open chat window is taken out of the table and returned to be destroyed.
std::vector<chat_window*> take_all_chat_dlgs();

// Per-server passes: clears the chosen marker of every record, then marks each group of in-use
// records sharing a non-empty home_server and returns the index of the first record of each group.
enum pass_marker { RETRIEVE_MARKER, STATUS_MARKER };
std::vector<int> start_server_pass(pass_marker marker);

// Copies of records for readers outside the lock.
bool contact_at(int index, contact_record* out);
bool contact_by_id(int contact_id, contact_record* out);
std::vector<contact_record> contacts_snapshot();  // in-use records, in slot order
std::vector<group_record> groups_snapshot();      // in-use records, in slot order
bool group_by_id(int group_id, group_record* out);
