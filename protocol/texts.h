// Every user-visible text of the core has an id: 101-231 from the string table, 1001 and up for
// texts we added. The core hands out ids with their arguments (user_text); a front end turns them
// into words in the user's language. The English set lives here and serves the headless client.
#pragma once
#include <string>
#include <vector>

// X(name, id, English). A backslash or double quote inside a text is escaped as in C.
#define PARLO_TEXT_TABLE(X)                                                                        \
    X(TXT_ABOUT_MENU, 101, "")                                                                     \
    X(TXT_SOCKETS_INIT_FAILED, 103, "")                                                            \
    X(TXT_OPEN_MESSENGER, 148, "Open Messenger")                                                   \
    X(TXT_SIGN_OUT, 149, "Sign Out")                                                               \
    X(TXT_SIGN_IN, 150, "Sign In")                                                                 \
    X(TXT_EXIT, 151, "Exit")                                                                       \
    X(TXT_ONLINE, 152, "Online")                                                                   \
    X(TXT_OFFLINE, 153, "Offline")                                                                 \
    X(TXT_BUSY, 154, "Busy")                                                                       \
    X(TXT_AWAY, 155, "Away")                                                                       \
    X(TXT_RIGHT_BACK, 156, "Right Back")                                                           \
    X(TXT_ON_PHONE, 157, "On Phone")                                                               \
    X(TXT_LUNCH, 158, "Lunch")                                                                     \
    X(TXT_APPEAR_OFFLINE, 159, "Appear Offline")                                                   \
    X(TXT_MY_STATUS, 160, "My Status")                                                             \
    X(TXT_ADD_GROUP, 161, "Add Group")                                                             \
    X(TXT_EDIT_GROUP, 162, "Edit Group")                                                           \
    X(TXT_DELETE_GROUP, 163, "Delete Group")                                                       \
    X(TXT_ADD_CONTACT, 164, "Add Contact")                                                         \
    X(TXT_EDIT_CONTACT, 165, "Edit Contact")                                                       \
    X(TXT_REMOVE_CONTACT, 166, "Remove Contact")                                                   \
    X(TXT_VIEW_INFO, 167, "View Info")                                                             \
    X(TXT_TEXT_CHAT, 168, "Text Chat")                                                             \
    X(TXT_AUDIO_VIDEO, 169, "Audio Video")                                                         \
    X(TXT_TRANSFER_FILE, 170, "Transfer File")                                                     \
    X(TXT_OFFLINE_MESSAGE, 171, "Offline Message")                                                 \
    X(TXT_SEARCH_EMAIL_EMPTY, 172, "Email should not be empty.")                                   \
    X(TXT_SEARCH_EMAIL_WRONG, 173, "Email seems not correct.")                                     \
    X(TXT_SEARCH_EMAIL_IN_LIST, 174, "The email address already exist in your contact list.")      \
    X(TXT_FOUND_CONTACT_IN_LIST, 175, "This contact already exists in your contact list.")         \
    X(TXT_LOGIN_EMAIL_BLANK, 176, "Email could not be blank.")                                     \
    X(TXT_LOGIN_EMAIL_COLON, 177, "Email could not contain ':' charactor")                         \
    X(TXT_OFFLINE_TOO_LONG, 178, "Could not input more than 10000 charactors.")                    \
    X(TXT_OFFLINE_NO_CONTACT, 179, "No contact selected when sending.")                            \
    X(TXT_OFFLINE_CONTACT_UNKNOWN, 180,                                                            \
      "failed to send offline message, did not find contact in contact list.")                     \
    X(TXT_REGISTER_EMAIL_EMPTY, 181, "Email could not be empty.")                                  \
    X(TXT_REGISTER_PASSWORD_EMPTY, 182, "Password could not be empty.")                            \
    X(TXT_REGISTER_FIRST_NAME_EMPTY, 183, "FirstName could not be empty.")                         \
    X(TXT_REGISTER_LAST_NAME_EMPTY, 184, "LastName could not be empty.")                           \
    X(TXT_REGISTER_NICK_NAME_EMPTY, 185, "NickName could not be empty.")                           \
    X(TXT_REGISTER_EMAIL_WRONG, 186, "Your Email seems not correct, please correct.")              \
    X(TXT_REGISTER_EMAIL_CHARS, 187,                                                               \
      ":, <, >, ', \", \\ and space is not allowed in email, please correct.")                     \
    X(TXT_OFFLINE_CHOOSE, 188, "Please choose between \"discard message\" or \"save message\".")   \
    X(TXT_WRITE_FILE_FAILED, 189,                                                                  \
      "failed to open file to write, make sure you have privilege to do so.")                      \
    X(TXT_PEER_SERVER_CONNECT_FAILED, 190, "Failed to connect to peer's server.")                  \
    X(TXT_LOGIN_FAILED, 191, "Login failed.")                                                      \
    X(TXT_REGISTER_SUCCESS, 192, "Register Success.")                                              \
    X(TXT_REGISTER_ERROR, 193, "General error when register, please try again later.")             \
    X(TXT_REGISTER_EMAIL_EXISTS, 194,                                                              \
      "Email already exist when register, please change your email and try again.")                \
    X(TXT_CONTACT_SEARCH_FAILED, 195, "Contact Search Failed.")                                    \
    X(TXT_CONTACT_NOT_FOUND, 196, "Contact with email %s not found, please try again.")            \
    X(TXT_CONTACT_ADDED, 197, "Contact is added to your list.")                                    \
    X(TXT_CONTACT_NOT_ADDED, 198, "Contact not added to your list.")                               \
    X(TXT_CONTACT_REMOVED, 199, "Contact removed.")                                                \
    X(TXT_CONTACT_FULL, 200, "Contact full.")                                                      \
    X(TXT_CONTACT_ADD_FAILED, 201, "Failed to add contact, please try again later.")               \
    X(TXT_CONTACT_ALREADY_EXISTS, 202, "The contact already exist in your contact list.")          \
    X(TXT_GROUP_ADD_FAILED, 203, "Group add failed, please try again later.")                      \
    X(TXT_GROUP_REMOVE_FAILED, 204, "Group remove failed, please try again later.")                \
    X(TXT_GROUP_UPDATE_FAILED, 205, "Group name update failed, please try again later.")           \
    X(TXT_OFFLINE_WAITING, 206, "You have offline message, do you want to read now?")              \
    X(TXT_FILE_OFFER_QUESTION, 207, "%s %s(%s) want to send you a file named %s, do you want accept?") \
    X(TXT_FILE_SENDING, 208, "sending file %s to %s %s(%s) now.")                                  \
    X(TXT_FILE_REFUSED, 209, "%s %s(%s) did not accept your file transfer.")                       \
    X(TXT_FILE_SAVED, 210, "File %s saved successfully from %s %s (%s).")                          \
    X(TXT_CONTACT_REMOVE_FAILED, 211, "Failed to remove contact.")                                 \
    X(TXT_ADDED_ME_QUESTION, 212,                                                                  \
      "%s(%s %s)(%s) added you as contact, do you want to add her(him) to your contact list?")     \
    X(TXT_REMOVED_ME_QUESTION, 213,                                                                \
      "%s(%s %s)(%s) removed you from his(her) contact list, do you want to remove him(her) from " \
      "your contact list?")                                                                        \
    X(TXT_LOGIN_BEFORE_ADD, 214, "Please login first before you add contact.")                     \
    X(TXT_CONFIRM_REMOVE_CONTACT, 215, "Are you sure to remove this contact from your list?")      \
    X(TXT_DELETE_DEFAULT_GROUP, 216, "could not delete default group.")                            \
    X(TXT_EDIT_DEFAULT_GROUP, 217, "Could not edit dfault group.")                                 \
    X(TXT_DELETE_NON_EMPTY_GROUP, 218, "Could not delete a none-empty group.")                     \
    X(TXT_CONFIRM_REMOVE_GROUP, 219, "Are you sure to remove this group?")                         \
    X(TXT_PEER_CONNECT_FAILED, 220, "connect to peer failed.")                                     \
    X(TXT_SELECT_CONTACT_LOWER, 221, "please select a contact.")                                   \
    X(TXT_CONFIRM_TRANSFER_FILE, 222, "Are you sure to tranfer file %s to %s?")                    \
    X(TXT_SELECT_CONTACT, 223, "Please select a contact.")                                         \
    X(TXT_LOGGED_IN_ELSEWHERE, 224,                                                                \
      "You logged in at another location, this connection is disconnected.")                       \
    X(TXT_BECOME_ONLINE, 225, "%s(%s) become online.")                                             \
    X(TXT_KNOCK_PEER, 226, "Knock Peer")                                                           \
    X(TXT_ALLOW_KNOCK, 227, "Allow Knock")                                                         \
    X(TXT_DISALLOW_KNOCK, 228, "Disallow Knock")                                                   \
    X(TXT_ABOUT, 229, "About Vorlane Messenger")                                                   \
    X(TXT_SEND_FEEDBACK, 230, "Send feedback to us")                                               \
    X(TXT_WEB_CONFERENCE, 231, "Start Web Conference")                                             \
    X(TXT_KNOCK_FROM, 1001, "Knock from %s %s(%s)")                                                \
    X(TXT_WELCOME_TITLE, 1002, "Welcome (%s, %s) %s!")                                             \
    X(TXT_FILE_INCOMPLETE, 1003,                                                                   \
      "The file %s from %s %s(%s) did not arrive completely; the part received is kept as %s.")    \
    X(TXT_FILE_OPEN_FAILED, 1004, "Could not open file %s to send it to %s %s(%s).")               \
    X(TXT_FILE_SEND_STOPPED, 1005, "Sending file %s to %s %s(%s) stopped before the end.")         \
    X(TXT_CHAT_SEND_FAILED, 1006, "Your line to %s %s(%s) could not be sent.")                     \
    X(TXT_FILE_OFFER_FAILED, 1007, "Could not offer file %s to %s %s(%s).")                        \
    X(TXT_FILE_OFFER_BUSY, 1008,                                                                   \
      "File %s was not offered: a file to %s %s(%s) is still being offered or sent; offer it when "  \
      "that one ends.")                                                                            \
    X(TXT_CONNECTING, 1009, "Connecting...")                                                       \
    X(TXT_OFFLINE_REFUSED, 1031,                                                                   \
      "The server refused your offline message: too many messages are waiting for this user.")   \
    X(TXT_OFFLINE_NOT_CONFIRMED, 1032,                                                             \
      "Your offline message may not have been stored: the server did not confirm it.")

enum text_id : int {
    TXT_NONE = 0,
#define PARLO_TEXT_ENUM(name, id, english) name = id,
    PARLO_TEXT_TABLE(PARLO_TEXT_ENUM)
#undef PARLO_TEXT_ENUM
};

// The English text, "" for an unknown id (or 101/103, which have no English).
const char* text_english(int id);
// Every id in the table, ours above 1000 included, in ascending order.
const std::vector<int>& all_text_ids();

struct user_text {
    int id = TXT_NONE;
    std::vector<std::string> args;
    bool empty() const { return id == TXT_NONE; }
};

inline user_text make_text(int id, std::vector<std::string> args = {}) {
    return user_text{id, std::move(args)};
}

// Fills %s / %d (and %%) of pattern in order from args, never reading past args; safe for any
// pattern. A placeholder without an argument becomes empty; any other % sequence stays as it is.
std::string format_text(const char* pattern, const std::vector<std::string>& args);
// format_text(text_english(t.id), t.args)
std::string english(const user_text& t);
